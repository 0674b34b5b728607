#pragma once

#include <QString>

#include <functional>

class QDialog;
class QLineEdit;
class QWidget;

namespace strandel {

enum class MessageKind { Information, Warning, Error, Confirmation };

// How the transfer client talks to the user: every message box and every
// modal dialog goes through one of these two functions, so that tests (and
// any later window) can answer them without a person.
struct ClientUi {
    // Shows text (with "\r" as line breaks) in a box of the given kind whose
    // caption is the application title. yesNo: Yes and No buttons, else OK.
    // Answers true for Yes (and for OK).
    std::function<bool(QWidget *parent, MessageKind kind, const QString &text, bool yesNo)> message;
    // Runs a dialog modally and returns its result (QDialog::Accepted or
    // QDialog::Rejected).
    std::function<int(QDialog &dialog)> exec;

    void information(QWidget *parent, const QString &text) const;
    void error(QWidget *parent, const QString &text) const;
    bool confirm(QWidget *parent, const QString &text) const;
    // The error box function that the SOAP operations take.
    std::function<void(const QString &)> errorBox(QWidget *parent) const;
};

// QMessageBox and QDialog::exec().
ClientUi defaultClientUi();

// Text typed in upper case: every edit is turned to upper case, keeping the
// cursor where it was. `enabled` may be switched later with setUpperCase.
void setUpperCase(QLineEdit *edit, bool enabled);

} // namespace strandel
