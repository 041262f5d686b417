#include "TranslateMac/Screens/Account/LoginView.h"

namespace TranslateMac {

LoginView::LoginView(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model) { }

} // namespace TranslateMac
