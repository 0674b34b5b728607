#pragma once

#include "transfer/core/clientui.h"

#include <QDialog>

class QLabel;
class QLineEdit;

namespace strandel {

class TransferSettings;

// The password asked at every start. Three wrong attempts end it as
// cancelled; Escape cancels at once.
class TFormPassWord : public QDialog {
    Q_OBJECT
public:
    TFormPassWord(TransferSettings &settings, const ClientUi &ui, QWidget *parent = nullptr);

    // Opening: reads the settings, resets the attempt counter, clears the field.
    void prepare();

    QLineEdit *passwordEdit() const { return m_edit; }
    QLabel *userLabel() const { return m_user; }
    int attempts() const { return m_attempts; }

    // One attempt with the field's text (the Enter key).
    void tryPassword();

private:
    TransferSettings &m_settings;
    ClientUi m_ui;
    QLineEdit *m_edit = nullptr;
    QLabel *m_user = nullptr;
    int m_attempts = 0;
};

} // namespace strandel
