// Product ID: a filtered text box with clipboard keys of its own.
#include "app/form1.h"

#include "core/number_text.h"

#include <QLineEdit>
#include <QTimer>

namespace zentrava {

namespace {
constexpr int kShiftCtrlOnly = 2;
constexpr int kKeyC = 67;
constexpr int kKeyV = 86;
constexpr int kKeyX = 88;
} // namespace

void Form1::readid_Click() {
    startTransaction(command::kReadId);
}

void Form1::writeid_Click() {
    // Locked before the check: a refused ID keeps the buttons off until the time-out.
    setCommandButtonsEnabled(false);
    if (const std::optional<std::uint16_t> value = productIdFromText(id->text())) {
        sendValue(ModuleValue::productId(*value));
        return;
    }
    // A refused ID still stands as the command awaited, until the next request replaces it.
    pendingCommand = command::kWriteId;
    refuseWrite();
}

bool Form1::id_KeyPress(int& keyAscii) {
    const bool discard = (keyAscii >= 0 && keyAscii <= 7) || (keyAscii >= 9 && keyAscii <= 47) ||
                         (keyAscii >= 58 && keyAscii <= 500);
    if (discard)
        keyAscii = 0;
    return discard;
}

bool Form1::id_KeyDown(int keyCode, int shift) {
    if (shift != kShiftCtrlOnly)
        return false;
    Clipboard& clipboard = *m_services.clipboard;
    switch (keyCode) {
    case kKeyC:
        clipboard.setText(id->selectedText());
        return true;
    case kKeyV:
        if (const std::optional<QString> text = clipboard.text())
            id->insert(*text);
        return true;
    case kKeyX:
        // The whole box is emptied, not only the selection; only once the text is safe.
        if (clipboard.setText(id->selectedText()))
            id->clear();
        return true;
    default:
        return false;
    }
}

} // namespace zentrava
