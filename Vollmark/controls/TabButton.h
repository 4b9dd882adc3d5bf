#pragma once
// The custom-drawn buttons of the controller's window: the section buttons of the left
// strip (CTabButton, 188 by 50, with an arrow marking the section shown) and the icon
// buttons of the views (CIconButton, 90 by 48). Both turn their text blue while the mouse
// is over them, and ask for the click sound, which their owner plays.

#include <QWidget>

#include <string>

struct CDrawTools;
class QPainter;

// What both buttons share: a text and an icon drawn by the subclass, a command number, and
// the hover state that turns the text blue.
class CHoverButton : public QWidget {
    Q_OBJECT
public:
    int GetCommandId() const { return commandId_; }
    bool IsHovered() const { return hover_; }

signals:
    // The button's command should run (for a section button: its section be shown).
    void clicked(int commandId);
    // The click sound should play; sent just before `clicked`.
    void clickSound();

protected:
    // `tools` must outlive the button.
    CHoverButton(const CDrawTools& tools, QWidget* parent, const std::string& text, int iconId, QRect geometry,
                 int commandId);

    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    // The label at its place, blue while hovered, then the icon at `iconAt`.
    void DrawFace(QPainter& painter, QPoint iconAt);
    void SetHover(bool hover);

    const CDrawTools& tools_;

private:
    std::string text_;
    int iconId_;
    int commandId_;
    bool hover_ = false;
};

class CTabButton : public CHoverButton {
    Q_OBJECT
public:
    static constexpr int kWidth = 188;
    static constexpr int kHeight = 50;

    // At (x, y) of `parent`, with the section's text and icon.
    CTabButton(const CDrawTools& tools, QWidget* parent, const std::string& text, int iconId, int x, int y,
               int commandId);

    bool IsSelected() const { return selected_; }
    // Marks (or unmarks) the button's section as shown; a marked button starts blue.
    void SetSelected(bool marker);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    bool selected_ = false;
};

class CIconButton : public CHoverButton {
    Q_OBJECT
public:
    static constexpr int kWidth = 90;
    static constexpr int kHeight = 48;

    CIconButton(const CDrawTools& tools, QWidget* parent, const std::string& text, int iconId, int x, int y,
                int commandId, bool leftBorder);

protected:
    void paintEvent(QPaintEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool leftBorder_;
    bool pressed_ = false;
};
