#include "views/MainViewBase.h"

#include "gui/DrawTools.h"

CMainViewBase::CMainViewBase(const CDrawTools& tools, QWidget* parent) : QWidget(parent), tools_(tools)
{
    SetWhiteBackground(*this);
}

std::string CMainViewBase::GetCopyText() { return std::string(); }

void AppendTextBlock(std::string& text, const std::string& label, const std::string& value)
{
    text += label;
    text += "\r\n　";
    text += value;
    text += "\r\n\r\n";
}
