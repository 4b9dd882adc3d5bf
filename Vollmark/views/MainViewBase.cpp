#include "views/MainViewBase.h"

#include "gui/DrawTools.h"

CMainViewBase::CMainViewBase(CControllerApp& app, QWidget* parent) : QWidget(parent), app_(app)
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
