#pragma once

#include <QByteArray>
#include <QString>

// Deployment constants chosen when the launcher is built. The values live in one
// configured source file in the build folder, so changing the update server's
// address recompiles that file alone.
struct BuildSettings {
    QByteArray updateListUrl;
    QByteArray facebookZevUrl;
    QByteArray facebookMirUrl;
    QByteArray siteZev1Url;
    QByteArray siteZev2Url;
    QByteArray siteMir1Url;
    QByteArray siteMir2Url;
    QString guardKey;
    QByteArray launcherVersion;
    // Base64 Ed25519 keys separated by spaces; when set, only an update list signed
    // with one of their private keys is accepted.
    QByteArray updateListPublicKey;
    // The base64 Ed25519 public key of the operator's offline root key; when set,
    // the list keys are those of the key document it signed, published beside the
    // list, and updateListPublicKey does not count.
    QByteArray rootPublicKey;
    // A certificate authority trusted instead of the system's store, for a demo
    // served with a certificate of its own; empty in every release.
    QByteArray certificateAuthorityFile;
};

// The settings of this build. The shipped program only reads them; tests may point
// the update list at a server of their own.
BuildSettings &buildSettings();
