// A file read as another program reads it: MSXML 3.0 through COM (Wine's own or Windows'), an XML
// reader independent of TinyXML that refuses a document that is not well-formed XML in the
// encoding it declares.
#pragma once

#include <map>
#include <string>

namespace pelmora_test {

struct MsxmlReading {
    bool accepted = false;
    std::wstring error;                               // MSXML's reason when it refused the file
    std::wstring root;                                // the name of the document element
    std::map<std::wstring, std::wstring> childTexts;  // each child element of the root: its text
};

MsxmlReading ReadWithMsxml(const std::wstring& path);

}  // namespace pelmora_test
