#pragma once

#include <QList>
#include <QWidget>

namespace TranslateMac {

// The sign-in QR code: the module matrix scaled onto a square, dark modules as dark squares.
class LoginQRCode : public QWidget {
    Q_OBJECT

public:
    explicit LoginQRCode(QWidget *parent = nullptr);
    void setRows(QList<QList<bool>> rows);
    const QList<QList<bool>> &rows() const { return m_rows; }
    QSize sizeHint() const override { return { 180, 180 }; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return width; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QList<QList<bool>> m_rows;
};

} // namespace TranslateMac
