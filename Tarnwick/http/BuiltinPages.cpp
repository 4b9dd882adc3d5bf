#include "http/BuiltinPages.h"

namespace {

const char kStatusPage[] =
    "<html>\r\n"
    "\t<head>\r\n"
    "\t\t<meta http-equiv=\"Content-Type\" content=\"text/html;charset=Shift_JIS\">\r\n"
    "\t\t<title>%ResponseText%</title>\r\n"
    "\t</head>\r\n"
    "\t<body bgcolor='#FFFFFF'>\r\n"
    "\t\t<center>\r\n"
    "\t\t\t<font color='#0066aa'>\r\n"
    "\t\t\t\t<h1>%ResponseText%</h1>\r\n"
    "\t\t\t</font>\r\n"
    "\t\t\t<font color='#003366'>Request : %Method%<br>\r\n"
    "\t\t\t\tObject : %Object%<br>\r\n"
    "\t\t\t\t<br>\r\n"
    "\t\t\t\t<pre>%Info%</pre>\r\n"
    "\t\t\t\t<hr>\r\n"
    "\t\t\t\t<address>- %ServerSignature% -</address>\r\n"
    "\t\t\t</font>\r\n"
    "\t\t</center>\r\n"
    "\t</body>\r\n"
    "</html>\r\n";

// The header row lines its column titles up over the listing lines' 70-character labels.
const char kDirectoryPage[] =
    "<html>\r\n"
    "\t<head>\r\n"
    "\t\t<meta http-equiv=\"Content-Type\" content=\"text/html;charset=Shift_JIS\">\r\n"
    "\t\t<title>Index of %Object%</title>\r\n"
    "\t</head>\r\n"
    "\t<body bgcolor='#FFFFFF'>\r\n"
    "\t\t<font color='#0066aa'>\r\n"
    "\t\t\t<h1>Index of %Object%</h1>\r\n"
    "\t\t</font><font color='#003366'>\r\n"
    "\t\t\t<!-- 以下　ディレクトリリスト -->\r\n"
    "\t\t\t<pre><IMG SRC=\"/icons/blank.gif\" ALT=\"     \"> <a href=\"%Object%?name\">Name</a>"
    "                                                              "
    "<a href=\"%Object%?modified\">Last modified</a>"
    "            "
    "<a href=\"%Object%?size\">Size</a>\r\n"
    "<hr>\r\n"
    "%FileList%</pre>\r\n"
    "\t\t\t<hr>\r\n"
    "\t\t\t<!-- ここまで -->\r\n"
    "\t\t\t<address>%ServerSignature%</address>\r\n"
    "\t\t</font>\r\n"
    "\t</body>\r\n"
    "</html>\r\n";

}  // namespace

bool FindBuiltinPage(int identifier, std::string& bytes)
{
    switch (identifier) {
    case kStatusPageResource:
        bytes.assign(kStatusPage, sizeof kStatusPage - 1);
        return true;
    case kDirectoryPageResource:
        bytes.assign(kDirectoryPage, sizeof kDirectoryPage - 1);
        return true;
    default:
        return false;
    }
}
