#pragma once
// The header above the content view: the section's title and a line describing it.

#include <QWidget>

#include <string>

class CControllerApp;

class CHeadderView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 65;

    explicit CHeadderView(CControllerApp& app, QWidget* parent = nullptr);

    void SetText(const std::string& title, const std::string& description);
    const std::string& GetTitle() const { return title_; }
    const std::string& GetDescription() const { return description_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CControllerApp& app_;
    std::string title_;
    std::string description_;
};
