#pragma once

#include <QWidget>

class QButtonGroup;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTimer;

namespace TranslateMac {

class AppModel;
class QRLoginPane;

// The sign-in screen: an introduction beside the form, which signs in by QR code (the default)
// or by SMS code.
class LoginView : public QWidget {
    Q_OBJECT

public:
    explicit LoginView(AppModel &model, QWidget *parent = nullptr);

    QLineEdit &countryField() const { return *m_country; }
    QLineEdit &phoneField() const { return *m_phone; }
    QLineEdit &codeField() const { return *m_code; }
    QPushButton &sendCodeButton() const { return *m_sendCode; }
    QPushButton &submitButton() const { return *m_submit; }
    QRLoginPane &qrPane() const { return *m_qrPane; }
    bool showsQRForm() const;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QWidget *buildIntroduction();
    QWidget *buildForm();
    QWidget *buildPhoneForm();
    void refresh();
    void submit();

    AppModel &m_model;
    QButtonGroup *m_methods = nullptr;
    QStackedWidget *m_forms = nullptr;
    QRLoginPane *m_qrPane = nullptr;
    QWidget *m_phoneForm = nullptr;
    QLineEdit *m_country = nullptr;
    QLineEdit *m_phone = nullptr;
    QLineEdit *m_code = nullptr;
    QPushButton *m_sendCode = nullptr;
    QPushButton *m_submit = nullptr;
    QLabel *m_message = nullptr;
    QTimer *m_cooldownTick = nullptr;
};

} // namespace TranslateMac
