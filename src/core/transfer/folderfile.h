#pragma once

#include <QIODevice>

class QFile;

// Opens the file named by file.fileName() the way every file of the game folder
// is opened: a link is never followed and nothing blocks (a FIFO or a device
// planted under a file's name would hold the launcher for good), and only a
// regular file is used. Anything else counts as absent: false, and file stays
// closed. With QIODevice::WriteOnly and Append, a missing file is created.
// The file is opened by its descriptor, after which QFile forgets the name:
// a caller that needs it again keeps its own copy.
bool openRegularFile(QFile &file, QIODevice::OpenMode mode);
