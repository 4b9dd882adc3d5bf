#pragma once
// The strip of section buttons at the left of the main window, with a picture at its foot
// and, after a save, the notice that the server must be restarted for the settings to
// take effect.

#include <QPixmap>
#include <QWidget>

#include <array>

class CControllerSettings;
class CTabButton;
struct CDrawTools;

// One section of the main window: its button, its header and (made by the content frame)
// its view.
struct CSection {
    int id;
    const char* title;        // the button's text and the header's title
    int iconId;
    const char* description;  // the header's second line
};

// In button order: information, directories, settings, connections.
const std::array<CSection, 4>& Sections();
// The section of `id`, or null.
const CSection* FindSection(int id);

class CTabBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 195;
    // Below this the picture and the restart notice at the foot would draw over the
    // section buttons.
    static const int kMinimumHeight;

    // The notice shows while `settings` has changes the server has not taken in; its owner
    // calls update() when that changes. `tools` and `settings` must outlive the strip.
    CTabBar(const CDrawTools& tools, const CControllerSettings& settings, QWidget* parent = nullptr);

    CTabButton* GetButton(int index) const { return buttons_[static_cast<size_t>(index)]; }
    // Marks the button of `id` and tells the content frame; an unknown id marks none.
    void SelectSection(int id);

signals:
    void sectionSelected(int id);
    // A section button asks for the click sound.
    void clickSound();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const CDrawTools& tools_;
    const CControllerSettings& settings_;
    QPixmap picture_;
    std::array<CTabButton*, 4> buttons_{};
};
