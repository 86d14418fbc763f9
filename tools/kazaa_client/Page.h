#pragma once
// The page an embedded browser window of the stand-in client shows: a document object
// of our own with its window, browser and body, handed out for "WM_HTML_GETOBJECT".
#include <windows.h>

#include <string>

namespace standin {

struct Page;

// Pages live until the process ends.
Page* NewPage(const std::string& name, const std::string& bodyText, HWND display);
// The answer to "WM_HTML_GETOBJECT": the document, marshalled for the asking process.
LRESULT AnswerGetObject(Page* page, WPARAM wParam);
std::string BodyText(const Page* page);
void SetBodyText(Page* page, const std::string& text);

// References that others hold on all pages' objects together.
long OutstandingReferences();

} // namespace standin
