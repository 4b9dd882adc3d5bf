#pragma once
// A format text with placeholders, each a name between two "%" ("[%Time%] %Method%"),
// filled one by one from explicit values and from the leaves of a settings node, then
// assembled into one line (the request log line). A template parsed once can be filled
// again and again (Unfill): its parse, and the storage of the values it held, serve every
// line. Not locked: one owner thread.

#include <string>
#include <string_view>
#include <vector>

class CConfigAccessor;

class CTemplate {
public:
    CTemplate();
    virtual ~CTemplate();

    // Appends the format's placeholders to those parsed before and makes the text after
    // its last placeholder the tail. A "%" without a closing "%" is plain text; "%%" is a
    // placeholder with an empty name.
    void Parse(const std::string& format);
    // Every placeholder unfilled again, as parsed; the storage of the values is kept.
    void Unfill();
    // Fills the first unfilled placeholder of exactly that name (byte-wise); nothing when
    // there is none. A name that occurs twice needs two calls; the first value goes first.
    void SetValue(std::string_view name, std::string_view value);
    // SetValue without a copy: the placeholder views `value`, whose bytes must stay as they
    // are until the text is taken (GetText, AppendText) or the template is filled anew.
    void ViewValue(std::string_view name, std::string_view value);
    // While any placeholder is unfilled: SetValue with each leaf of the accessor's node, in
    // stored order. An empty accessor (no tree) fills nothing.
    void SetFromConfig(const CConfigAccessor& accessor);
    int CountUnfilled() const;
    // Each placeholder's literal, then its value, or else the substitute when that is not
    // empty, or else its bare name; then the tail. A format without placeholders gives
    // itself back.
    std::string GetText(const std::string& substitute) const;
    // The same, appended to `out`.
    void AppendText(std::string& out, std::string_view substitute) const;

private:
    struct Segment {
        std::string literal;  // text before the placeholder
        std::string name;
        std::string stored;      // a value SetValue copied
        std::string_view value;  // while filled by ViewValue: what it was given
        int filled;              // 0, kStored or kViewed
    };
    static constexpr int kStored = 1;
    static constexpr int kViewed = 2;
    // The first unfilled placeholder named `name`, marked filled; null when there is none.
    Segment* Fill(std::string_view name);
    std::vector<Segment> segments_;
    std::string tail_;
    int unfilled_ = 0;  // the placeholders of segments_ not filled yet
};
