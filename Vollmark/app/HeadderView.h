#pragma once
// The header above the content view: the section's title and a line describing it.

#include <QWidget>

#include <string>

struct CDrawTools;

class CHeadderView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 65;

    // `tools` must outlive the header.
    explicit CHeadderView(const CDrawTools& tools, QWidget* parent = nullptr);

    void SetText(const std::string& title, const std::string& description);
    const std::string& GetTitle() const { return title_; }
    const std::string& GetDescription() const { return description_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const CDrawTools& tools_;
    std::string title_;
    std::string description_;
};
