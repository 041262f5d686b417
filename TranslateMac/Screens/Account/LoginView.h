#pragma once

#include <QWidget>

namespace TranslateMac {

class AppModel;

// The sign-in screen: an introduction beside the form (QR code or SMS code).
class LoginView : public QWidget {
    Q_OBJECT

public:
    explicit LoginView(AppModel &model, QWidget *parent = nullptr);

private:
    AppModel &m_model;
};

} // namespace TranslateMac
