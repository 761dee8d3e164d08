// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A label that acts as a link: it reports the pointer moving over it and a click (a press and
// a release of the left button on it), and shows the pointing hand while the pointer is over it.
#include <QLabel>

namespace postlark {

class LinkLabel : public QLabel {
    Q_OBJECT
public:
    LinkLabel(const QString& text, const QString& objectName, QWidget* parent = nullptr);

    // The text colour.
    QColor ForeColor() const;
    void SetForeColor(const QColor& colour);

signals:
    void mouseMoved();
    void clicked();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool pressed_ = false;
};

} // namespace postlark
