#pragma once
// The base of the content views that the section buttons switch between: a white,
// custom-drawn area that may offer a text for the copy command ("表示情報のコピー").

#include <QWidget>

#include <string>

struct CDrawTools;

class CMainViewBase : public QWidget {
    Q_OBJECT
public:
    // `tools` must outlive the view.
    explicit CMainViewBase(const CDrawTools& tools, QWidget* parent = nullptr);

    // The copy command is enabled exactly while this is set; a view sets it while it has
    // something to copy.
    bool IsCopyEnabled() const { return copyEnabled_; }
    // The text the copy command puts on the clipboard (CP932); the base has none.
    virtual std::string GetCopyText();

signals:
    // Something of the view was clicked that answers with the click sound.
    void clickSound();

protected:
    void SetCopyEnabled(bool enabled) { copyEnabled_ = enabled; }
    const CDrawTools& Tools() const { return tools_; }

private:
    const CDrawTools& tools_;
    bool copyEnabled_ = false;
};

// label + "\r\n　" (an ideographic space) + value + "\r\n\r\n": one block of a view's copy text.
void AppendTextBlock(std::string& text, const std::string& label, const std::string& value);
