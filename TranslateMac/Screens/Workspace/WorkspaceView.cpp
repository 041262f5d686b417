#include "TranslateMac/Screens/Workspace/WorkspaceView.h"

namespace TranslateMac {

WorkspaceView::WorkspaceView(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model) { }

void WorkspaceView::setShowingAccount(bool showing)
{
    m_showingAccount = showing;
}

} // namespace TranslateMac
