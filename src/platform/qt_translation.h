// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Qt's own texts (the buttons of message boxes, the file dialogs) in Japanese, like the rest of
// the programs' texts.
class QCoreApplication;

namespace kv {

// Installs Qt's Japanese translation into app, whatever the user's locale. False when it is
// not installed (Debian: qt6-translations-l10n); the programs then go on with Qt's English.
bool LoadQtJapanese(QCoreApplication& app);

}  // namespace kv
