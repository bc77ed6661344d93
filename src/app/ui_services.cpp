#include "ui_services.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMessageBox>

namespace zentrava {

void QtMessageSink::warn(QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, QStringLiteral("Zentrava"), text, QMessageBox::Ok);
}

void QtLauncher::openUrl(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

std::optional<QString> QtClipboard::text() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return std::nullopt;
    return clipboard->text();
}

bool QtClipboard::setText(const QString& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    clipboard->setText(text);
    return true;
}

} // namespace zentrava
