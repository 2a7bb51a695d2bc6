// XML from outside the program (server replies, settings.xml, device.xml) handed to TinyXML safely.
//
// TinyXML parses each level of element nesting one level deeper in the stack, and overflows the stack
// on a document nested a few thousand levels deep; it checks each attribute of an element against all
// the element's attributes before it, so one element with a million attributes takes hours. A
// document is therefore measured before TinyXML sees it and refused when it passes either bound.
// No reply, settings file or device profile comes anywhere near them.
#pragma once

#include <string>
#include <string_view>

#include <tinyxml.h>

class ScratchHeap;

inline constexpr int kMaxXmlNesting = 256;
inline constexpr int kMaxXmlAttributes = 64;

struct XmlShape {
    int depth = 0;       // the deepest element nesting TinyXML reaches; the root element is level 1
    int attributes = 0;  // the most attributes TinyXML reads on one element
};

// The shape TinyXML meets when it parses `text` with `encoding`, read the way TinyXML reads it: comments,
// CDATA sections, declarations and other "<!"/"<?" markup, quoted attribute values (which may hold
// "<" and ">"), character references, and in UTF-8 the bytes that a lead byte carries along. The text
// ends at its first zero byte. Where TinyXML stops at an error, the measure stops too; where they could
// differ (a repeated attribute, which TinyXML refuses) the measure may only come out larger. Measuring
// stops as soon as a bound is passed, so a shape beyond a bound reads as that bound plus one.
XmlShape MeasureXml(std::string_view text, TiXmlEncoding encoding);

// True when a document of this shape is within kMaxXmlNesting and kMaxXmlAttributes.
bool IsWithinXmlBounds(const XmlShape& shape);

// TiXmlDocument::Parse of `text` up to its first zero byte, unless the text passes a bound: then the
// document is left empty and the result is false. The parse itself is not judged: the document's
// error state tells what TinyXML made of the text.
// With `scratch`, the tree is built in that scratch heap (platform/scratch_heap.h), which must outlive the
// document.
bool ParseXmlText(std::string_view text, TiXmlEncoding encoding, TiXmlDocument* document,
                  ScratchHeap* scratch = nullptr);

// TiXmlDocument::LoadFile (line ends made "\n" as it does) with the bounds of ParseXmlText. False when
// the file cannot be read, passes a bound or does not parse.
bool LoadXmlFile(const std::string& path, TiXmlEncoding encoding, TiXmlDocument* document);
