// A small XML tree for Task XML documents: enough of XML to read what
// Windows exports and installers ship (declaration, comments, CDATA,
// attributes, character references) and to write it back the way Windows
// stores it (UTF-16, two-space indent, CRLF). Elements the simulated
// service does not understand are kept, so a task survives a round trip.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace simtasks {

struct XmlNode {
    std::wstring name;
    std::vector<std::pair<std::wstring, std::wstring>> attributes;
    std::wstring text; // character data of an element without child elements
    std::vector<std::shared_ptr<XmlNode>> children;

    const wchar_t* Attribute(const wchar_t* attr) const;
    void SetAttribute(const wchar_t* attr, const std::wstring& value);
};
using XmlPtr = std::shared_ptr<XmlNode>;

// Parses a whole document; the root element or null with the reason.
XmlPtr ParseXml(const std::wstring& text, std::wstring* error);

// The document as Windows writes it, starting with the XML declaration
// (encoding "UTF-16"), without a byte-order mark.
std::wstring WriteXml(const XmlNode& root);
// One element and its children, without a declaration.
std::wstring WriteElement(const XmlNode& node);

// First child element of that name, or null.
XmlPtr Child(const XmlNode& node, const wchar_t* name);
// The child, created when missing. Known elements are placed in the order
// Windows writes them (see the order table in task_xml.cpp).
XmlPtr EnsureChild(XmlNode& node, const wchar_t* name);
void RemoveChild(XmlNode& node, const wchar_t* name);

// Text of the child element at a '/'-separated path, or fallback.
std::wstring PathText(const XmlNode& node, const wchar_t* path, const wchar_t* fallback = L"");
bool HasPath(const XmlNode& node, const wchar_t* path);
// Sets the text at a path, creating the elements on the way.
void SetPathText(XmlNode& node, const wchar_t* path, const std::wstring& value);
// Schema booleans: "true"/"1" and "false"/"0"; anything else is fallback.
bool PathBool(const XmlNode& node, const wchar_t* path, bool fallback);
void SetPathBool(XmlNode& node, const wchar_t* path, bool value);

XmlPtr CloneXml(const XmlNode& node);

} // namespace simtasks
