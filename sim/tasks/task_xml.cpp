#include "sim/tasks/task_xml.h"

#include <strsafe.h>

#include <string.h>

namespace simtasks {
namespace {

// Windows writes a task's elements in this order; a new child goes before
// the first existing sibling that comes later here. Names not listed are
// appended. One list serves every parent: no name needs two places.
const wchar_t* const kOrder[] = {
    // Task
    L"RegistrationInfo", L"Triggers", L"Principals", L"Settings", L"Data", L"Actions",
    // RegistrationInfo
    L"Date", L"Author", L"Version", L"Description", L"URI", L"SecurityDescriptor", L"Source",
    L"Documentation",
    // triggers
    L"Repetition", L"StartBoundary", L"EndBoundary", L"ExecutionTimeLimit", L"Enabled",
    L"Subscription", L"StateChange", L"UserId", L"Delay", L"RandomDelay", L"PeriodOfOccurrence",
    L"NumberOfOccurrences", L"MatchingElement", L"ValueQueries", L"ScheduleByDay",
    L"ScheduleByWeek", L"ScheduleByMonth", L"ScheduleByMonthDayOfWeek",
    // calendar schedules
    L"DaysInterval", L"Weeks", L"DaysOfMonth", L"DaysOfWeek", L"WeeksInterval", L"Months",
    // Principal
    L"LogonType", L"GroupId", L"RunLevel",
    // Settings
    L"MultipleInstancesPolicy", L"DisallowStartIfOnBatteries", L"StopIfGoingOnBatteries",
    L"AllowHardTerminate", L"StartWhenAvailable", L"RunOnlyIfNetworkAvailable", L"IdleSettings",
    L"AllowStartOnDemand", L"Hidden", L"RunOnlyIfIdle", L"WakeToRun", L"Priority",
    L"DeleteExpiredTaskAfter", L"RestartOnFailure",
    // IdleSettings, Repetition and RestartOnFailure
    L"Interval", L"Duration", L"WaitTimeout", L"StopOnIdleEnd", L"RestartOnIdle",
    L"StopAtDurationEnd", L"Count",
    // Exec
    L"Command", L"Arguments", L"WorkingDirectory"};

int OrderOf(const std::wstring& name) {
    for (size_t i = 0; i < ARRAYSIZE(kOrder); ++i) {
        if (name == kOrder[i])
            return static_cast<int>(i);
    }
    return -1;
}

class Parser {
public:
    explicit Parser(const std::wstring& text) : s_(text) {}

    XmlPtr Document(std::wstring* error) {
        if (pos_ < s_.size() && s_[pos_] == 0xFEFF)
            ++pos_;
        XmlPtr root;
        for (;;) {
            SkipSpace();
            if (pos_ >= s_.size())
                break;
            if (Starts(L"<?")) {
                if (!SkipPast(L"?>"))
                    return Fail(error, L"unterminated declaration");
            } else if (Starts(L"<!--")) {
                if (!SkipPast(L"-->"))
                    return Fail(error, L"unterminated comment");
            } else if (Starts(L"<!")) {
                if (!SkipPast(L">"))
                    return Fail(error, L"unterminated declaration");
            } else if (s_[pos_] == L'<' && !root) {
                root = Element(0);
                if (!root)
                    return Fail(error, reason_);
            } else {
                return Fail(error, L"text outside the root element");
            }
        }
        if (!root)
            return Fail(error, L"no root element");
        return root;
    }

private:
    XmlPtr Fail(std::wstring* error, const std::wstring& why) {
        if (error) {
            wchar_t where[48];
            StringCchPrintfW(where, ARRAYSIZE(where), L" (at character %zu)", pos_);
            *error = why + where;
        }
        return nullptr;
    }
    XmlPtr Error(const wchar_t* why) {
        if (reason_.empty())
            reason_ = why;
        return nullptr;
    }

    bool Starts(const wchar_t* token) const { return s_.compare(pos_, wcslen(token), token) == 0; }
    bool SkipPast(const wchar_t* token) {
        const size_t at = s_.find(token, pos_);
        if (at == std::wstring::npos)
            return false;
        pos_ = at + wcslen(token);
        return true;
    }
    void SkipSpace() {
        while (pos_ < s_.size() && iswspace(s_[pos_]))
            ++pos_;
    }
    static bool NameChar(wchar_t c) {
        return iswalnum(c) || c == L'_' || c == L':' || c == L'-' || c == L'.' || c > 0x7F;
    }
    std::wstring Name() {
        const size_t start = pos_;
        while (pos_ < s_.size() && NameChar(s_[pos_]))
            ++pos_;
        return s_.substr(start, pos_ - start);
    }

    // Character data up to the next '<' (or the end quote), references decoded.
    bool Decode(const std::wstring& raw, std::wstring* out) {
        out->clear();
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != L'&') {
                *out += raw[i];
                continue;
            }
            const size_t end = raw.find(L';', i);
            if (end == std::wstring::npos)
                return false;
            const std::wstring ref = raw.substr(i + 1, end - i - 1);
            if (ref == L"lt")
                *out += L'<';
            else if (ref == L"gt")
                *out += L'>';
            else if (ref == L"amp")
                *out += L'&';
            else if (ref == L"quot")
                *out += L'"';
            else if (ref == L"apos")
                *out += L'\'';
            else if (ref.size() > 1 && ref[0] == L'#') {
                const bool hex = ref[1] == L'x' || ref[1] == L'X';
                wchar_t* stop = nullptr;
                const unsigned long code =
                    wcstoul(ref.c_str() + (hex ? 2 : 1), &stop, hex ? 16 : 10);
                if (*stop || code == 0 || code > 0x10FFFF)
                    return false;
                if (code >= 0x10000) {
                    *out += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
                    *out += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
                } else {
                    *out += static_cast<wchar_t>(code);
                }
            } else {
                return false;
            }
            i = end;
        }
        return true;
    }

    XmlPtr Element(int depth) {
        if (depth > 64)
            return Error(L"elements nested too deeply");
        ++pos_; // '<'
        auto node = std::make_shared<XmlNode>();
        node->name = Name();
        if (node->name.empty())
            return Error(L"element without a name");
        for (;;) {
            SkipSpace();
            if (pos_ >= s_.size())
                return Error(L"unterminated start tag");
            if (Starts(L"/>")) {
                pos_ += 2;
                return node;
            }
            if (s_[pos_] == L'>') {
                ++pos_;
                break;
            }
            std::wstring attr = Name();
            if (attr.empty())
                return Error(L"bad attribute");
            SkipSpace();
            if (pos_ >= s_.size() || s_[pos_] != L'=')
                return Error(L"attribute without a value");
            ++pos_;
            SkipSpace();
            if (pos_ >= s_.size() || (s_[pos_] != L'"' && s_[pos_] != L'\''))
                return Error(L"attribute value without quotes");
            const wchar_t quote = s_[pos_++];
            const size_t end = s_.find(quote, pos_);
            if (end == std::wstring::npos)
                return Error(L"unterminated attribute value");
            std::wstring value;
            if (!Decode(s_.substr(pos_, end - pos_), &value))
                return Error(L"bad character reference");
            node->attributes.emplace_back(attr, value);
            pos_ = end + 1;
        }
        std::wstring text;
        for (;;) {
            if (pos_ >= s_.size())
                return Error(L"unterminated element");
            if (Starts(L"</")) {
                pos_ += 2;
                if (Name() != node->name)
                    return Error(L"mismatched end tag");
                SkipSpace();
                if (pos_ >= s_.size() || s_[pos_] != L'>')
                    return Error(L"bad end tag");
                ++pos_;
                break;
            }
            if (Starts(L"<!--")) {
                if (!SkipPast(L"-->"))
                    return Error(L"unterminated comment");
            } else if (Starts(L"<![CDATA[")) {
                pos_ += 9;
                const size_t end = s_.find(L"]]>", pos_);
                if (end == std::wstring::npos)
                    return Error(L"unterminated CDATA");
                text += s_.substr(pos_, end - pos_);
                pos_ = end + 3;
            } else if (Starts(L"<?")) {
                if (!SkipPast(L"?>"))
                    return Error(L"unterminated processing instruction");
            } else if (s_[pos_] == L'<') {
                XmlPtr child = Element(depth + 1);
                if (!child)
                    return nullptr;
                node->children.push_back(child);
            } else {
                const size_t end = s_.find(L'<', pos_);
                if (end == std::wstring::npos)
                    return Error(L"unterminated element");
                std::wstring part;
                if (!Decode(s_.substr(pos_, end - pos_), &part))
                    return Error(L"bad character reference");
                text += part;
                pos_ = end;
            }
        }
        if (node->children.empty())
            node->text = text;
        return node;
    }

    const std::wstring& s_;
    size_t pos_ = 0;
    std::wstring reason_;
};

std::wstring Escape(const std::wstring& text, bool attribute) {
    std::wstring out;
    for (wchar_t c : text) {
        switch (c) {
        case L'<':
            out += L"&lt;";
            break;
        case L'>':
            out += L"&gt;";
            break;
        case L'&':
            out += L"&amp;";
            break;
        case L'"':
            out += attribute ? L"&quot;" : L"\"";
            break;
        default:
            out += c;
        }
    }
    return out;
}

void Write(const XmlNode& node, int depth, std::wstring* out) {
    out->append(static_cast<size_t>(depth) * 2, L' ');
    *out += L"<" + node.name;
    for (const auto& attr : node.attributes)
        *out += L" " + attr.first + L"=\"" + Escape(attr.second, true) + L"\"";
    if (node.children.empty()) {
        if (node.text.empty())
            *out += L" />\r\n";
        else
            *out += L">" + Escape(node.text, false) + L"</" + node.name + L">\r\n";
        return;
    }
    *out += L">\r\n";
    for (const auto& child : node.children)
        Write(*child, depth + 1, out);
    out->append(static_cast<size_t>(depth) * 2, L' ');
    *out += L"</" + node.name + L">\r\n";
}

// The next path step of "a/b/c" from *pos.
std::wstring Step(const wchar_t* path, size_t* pos) {
    const wchar_t* start = path + *pos;
    const wchar_t* slash = wcschr(start, L'/');
    const size_t len = slash ? static_cast<size_t>(slash - start) : wcslen(start);
    *pos += len + (slash ? 1 : 0);
    return std::wstring(start, len);
}

} // namespace

const wchar_t* XmlNode::Attribute(const wchar_t* attr) const {
    for (const auto& a : attributes) {
        if (a.first == attr)
            return a.second.c_str();
    }
    return nullptr;
}

void XmlNode::SetAttribute(const wchar_t* attr, const std::wstring& value) {
    for (auto& a : attributes) {
        if (a.first == attr) {
            a.second = value;
            return;
        }
    }
    attributes.emplace_back(attr, value);
}

XmlPtr ParseXml(const std::wstring& text, std::wstring* error) {
    Parser parser(text);
    return parser.Document(error);
}

std::wstring WriteElement(const XmlNode& node) {
    std::wstring out;
    Write(node, 0, &out);
    return out;
}

std::wstring WriteXml(const XmlNode& root) {
    return L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n" + WriteElement(root);
}

XmlPtr Child(const XmlNode& node, const wchar_t* name) {
    for (const auto& child : node.children) {
        if (child->name == name)
            return child;
    }
    return nullptr;
}

XmlPtr EnsureChild(XmlNode& node, const wchar_t* name) {
    if (XmlPtr existing = Child(node, name))
        return existing;
    auto child = std::make_shared<XmlNode>();
    child->name = name;
    node.text.clear();
    const int order = OrderOf(name);
    auto at = node.children.end();
    if (order >= 0) {
        for (auto it = node.children.begin(); it != node.children.end(); ++it) {
            if (OrderOf((*it)->name) > order) {
                at = it;
                break;
            }
        }
    }
    node.children.insert(at, child);
    return child;
}

void RemoveChild(XmlNode& node, const wchar_t* name) {
    for (auto it = node.children.begin(); it != node.children.end(); ++it) {
        if ((*it)->name == name) {
            node.children.erase(it);
            return;
        }
    }
}

std::wstring PathText(const XmlNode& node, const wchar_t* path, const wchar_t* fallback) {
    const XmlNode* at = &node;
    size_t pos = 0;
    while (path[pos]) {
        XmlPtr next = Child(*at, Step(path, &pos).c_str());
        if (!next)
            return fallback;
        at = next.get();
    }
    return at->text;
}

bool HasPath(const XmlNode& node, const wchar_t* path) {
    const XmlNode* at = &node;
    size_t pos = 0;
    while (path[pos]) {
        XmlPtr next = Child(*at, Step(path, &pos).c_str());
        if (!next)
            return false;
        at = next.get();
    }
    return true;
}

void SetPathText(XmlNode& node, const wchar_t* path, const std::wstring& value) {
    XmlNode* at = &node;
    size_t pos = 0;
    while (path[pos])
        at = EnsureChild(*at, Step(path, &pos).c_str()).get();
    at->children.clear();
    at->text = value;
}

bool PathBool(const XmlNode& node, const wchar_t* path, bool fallback) {
    const std::wstring text = PathText(node, path, L"");
    if (text == L"true" || text == L"1")
        return true;
    if (text == L"false" || text == L"0")
        return false;
    return fallback;
}

void SetPathBool(XmlNode& node, const wchar_t* path, bool value) {
    SetPathText(node, path, value ? L"true" : L"false");
}

XmlPtr CloneXml(const XmlNode& node) {
    auto copy = std::make_shared<XmlNode>();
    copy->name = node.name;
    copy->attributes = node.attributes;
    copy->text = node.text;
    for (const auto& child : node.children)
        copy->children.push_back(CloneXml(*child));
    return copy;
}

} // namespace simtasks
