#pragma once
// A picture or text label that reads as clickable: the hand cursor over it, and a click
// signal its dialog can answer.

#include <QLabel>

class CClickedStatic : public QLabel {
    Q_OBJECT
public:
    explicit CClickedStatic(QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};
