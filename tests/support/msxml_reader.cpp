#include "tests/support/msxml_reader.h"

#include <windows.h>
#include <msxml2.h>

namespace pelmora_test {

namespace {

std::wstring Take(BSTR text) {
    std::wstring taken = text != nullptr ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return taken;
}

void ReadChildren(IXMLDOMElement* root, MsxmlReading* reading) {
    IXMLDOMNode* child = nullptr;
    root->get_firstChild(&child);
    while (child != nullptr) {
        DOMNodeType type = NODE_INVALID;
        child->get_nodeType(&type);
        if (type == NODE_ELEMENT) {
            BSTR name = nullptr;
            BSTR text = nullptr;
            child->get_nodeName(&name);
            child->get_text(&text);
            reading->childTexts[Take(name)] = Take(text);
        }
        IXMLDOMNode* next = nullptr;
        child->get_nextSibling(&next);
        child->Release();
        child = next;
    }
}

void Read(IXMLDOMDocument* document, const std::wstring& path, MsxmlReading* reading) {
    document->put_async(VARIANT_FALSE);
    VARIANT file;
    VariantInit(&file);
    file.vt = VT_BSTR;
    file.bstrVal = SysAllocString(path.c_str());
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT result = document->load(file, &loaded);
    VariantClear(&file);
    reading->accepted = SUCCEEDED(result) && loaded == VARIANT_TRUE;
    if (!reading->accepted) {
        IXMLDOMParseError* error = nullptr;
        if (SUCCEEDED(document->get_parseError(&error)) && error != nullptr) {
            BSTR reason = nullptr;
            error->get_reason(&reason);
            reading->error = Take(reason);
            error->Release();
        }
        return;
    }
    IXMLDOMElement* root = nullptr;
    if (FAILED(document->get_documentElement(&root)) || root == nullptr) return;
    BSTR name = nullptr;
    root->get_tagName(&name);
    reading->root = Take(name);
    ReadChildren(root, reading);
    root->Release();
}

}  // namespace

MsxmlReading ReadWithMsxml(const std::wstring& path) {
    MsxmlReading reading;
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CLSID documentClass = {};
    IXMLDOMDocument* document = nullptr;
    if (SUCCEEDED(CLSIDFromProgID(L"Msxml2.DOMDocument.3.0", &documentClass)) &&
        SUCCEEDED(CoCreateInstance(documentClass, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                   reinterpret_cast<void**>(&document)))) {
        Read(document, path, &reading);
        document->Release();
    } else {
        reading.error = L"MSXML 3.0 is not available";
    }
    if (SUCCEEDED(initialised)) CoUninitialize();
    return reading;
}

}  // namespace pelmora_test
