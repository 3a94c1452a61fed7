#pragma once

#include <QByteArray>

#include <vector>

// Names from the update list (client files, images, launcher files, the client's
// executable) are paths below their folder. A name that is empty, absolute, starts
// with a drive, holds a ".." segment (with / or \ as separator) or a control
// character, or could be taken for a partial download, would reach outside it.
bool isSafeRelativeName(const QByteArray &name);

// A launcher file lands in the game folder itself, beside the launcher's own
// files: besides being safe, its name must not be one of them (config.xml and its
// kept copy, the launcher and its new build, its log, partial files), nor lie in
// clientes/ or imagens/, whose files the servers and the carousel record, however
// it is spelt on a file system that ignores case, trailing dots and spaces.
bool isLauncherFileName(const QByteArray &name);

// The address of a file below a folder of the update server: the base, the folder
// and the name. Only the bytes that cannot stand in an address are encoded, so a
// name the operator wrote already encoded is requested as written.
QByteArray downloadUrl(const QByteArray &base, const char *folder, const QByteArray &name);

// Shell safety, one policy for the launcher and launcher-publish check. The
// Windows command interpreter reads & | < > ^ " % as syntax anywhere in a word;
// other shells read more (spaces, ; $ ` ' ( ) * ? [ ] { } ! ~ #).
//
// A name handed to the interpreter is quoted, which it cannot be when it holds a
// quote, a % or a control character.
bool canBeQuotedForWindowsShell(const QByteArray &name);
// Text handed over unquoted (an "exec" file's arguments, the launcher's option)
// holds none of the interpreter's syntax and no control character.
bool isSafeForWindowsShell(const QByteArray &text);
// Text in which some shell would read syntax or a separator: what an operator is
// warned about, as it works only where it is quoted.
bool holdsShellSyntax(const QByteArray &text);

// Where the game folder keeps a server's files and the carousel's pictures.
inline const QByteArray clientsFolder = "clientes/";
inline const QByteArray picturesFolder = "imagens/";

// The same file below each of several base addresses (the list's download path,
// then its mirrors), in that order.
std::vector<QByteArray> downloadUrls(const std::vector<QByteArray> &bases, const char *folder,
                                     const QByteArray &name);

// Names are UTF-8 wherever the launcher holds them as bytes (the update list is
// XML in UTF-8, config.xml too): every program makes file names of them by UTF-8,
// on every system. Windows' code page would spell a name it cannot hold as '?'
// and one it can as other letters than the list's. Called first in main.
void useUtf8FileNames();
