#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace TranslateMac {

class LoginQRCode;
class QRLoginModel;

// The QR half of the sign-in form: instructions, and the code with its confirmation code or the
// state of the exchange.
class QRLoginPane : public QWidget {
    Q_OBJECT

public:
    explicit QRLoginPane(QRLoginModel &login, QWidget *parent = nullptr);

    QString headline() const;
    QString confirmationText() const;
    QString messageText() const;
    bool showsCode() const;
    QPushButton &refreshButton() const { return *m_refresh; }

private:
    void refresh();

    QRLoginModel &m_login;
    QTimer *m_tick = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_headline = nullptr;
    QWidget *m_quietZone = nullptr;
    LoginQRCode *m_code = nullptr;
    QLabel *m_countdown = nullptr;
    QLabel *m_confirmation = nullptr;
    QLabel *m_message = nullptr;
    QPushButton *m_refresh = nullptr;
};

} // namespace TranslateMac
