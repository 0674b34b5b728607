#include "transfer/core/clientui.h"

#include "transfer/core/transfersettings.h"

#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace strandel {

void ClientUi::information(QWidget *parent, const QString &text) const
{
    message(parent, MessageKind::Information, text, false);
}

void ClientUi::error(QWidget *parent, const QString &text) const
{
    message(parent, MessageKind::Error, text, false);
}

bool ClientUi::confirm(QWidget *parent, const QString &text) const
{
    return message(parent, MessageKind::Confirmation, text, true);
}

std::function<void(const QString &)> ClientUi::errorBox(QWidget *parent) const
{
    auto show = message;
    return [show, parent](const QString &text) { show(parent, MessageKind::Error, text, false); };
}

ClientUi defaultClientUi()
{
    ClientUi ui;
    ui.message = [](QWidget *parent, MessageKind kind, const QString &text, bool yesNo) {
        QMessageBox::Icon icon = QMessageBox::Information;
        switch (kind) {
        case MessageKind::Information:
            icon = QMessageBox::Information;
            break;
        case MessageKind::Warning:
            icon = QMessageBox::Warning;
            break;
        case MessageKind::Error:
            icon = QMessageBox::Critical;
            break;
        case MessageKind::Confirmation:
            icon = QMessageBox::Question;
            break;
        }
        QString shown = text;
        shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        shown.replace(u'\r', u'\n');
        QMessageBox box(icon, kApplicationTitle, shown,
                        yesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, parent);
        box.setTextFormat(Qt::PlainText);
        const int answer = box.exec();
        return answer == QMessageBox::Yes || answer == QMessageBox::Ok;
    };
    ui.exec = [](QDialog &dialog) { return dialog.exec(); };
    return ui;
}

void setUpperCase(QLineEdit *edit, bool enabled)
{
    edit->setProperty("strandelUpper", enabled);
    if (edit->property("strandelUpperHooked").toBool())
        return;
    edit->setProperty("strandelUpperHooked", true);
    QObject::connect(edit, &QLineEdit::textEdited, edit, [edit](const QString &text) {
        if (!edit->property("strandelUpper").toBool())
            return;
        const QString upper = text.toUpper();
        if (upper == text)
            return;
        const int cursor = edit->cursorPosition();
        edit->setText(upper);
        edit->setCursorPosition(cursor);
    });
}

} // namespace strandel
