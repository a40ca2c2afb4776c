// What a user would find wrong in a form of the toolkit as it stands now: a
// control outside its parent, two controls on top of each other, a caption
// that does not fit its control. Measured on the real controls with their
// real fonts (for the tests of the forms; header only, so only the tests
// that link the toolkit use it).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "Toolkit.h"

namespace ktxtest {

namespace layout_detail {

// The size a text needs in a font: on one line, or broken between words
// into lines no wider than cxWrap.
inline SIZE TextNeeds(const TFont* pFont, const std::string& text, int cxWrap = 0)
{
    SIZE size{0, 0};
    HDC hdc = GetDC(nullptr);
    if (!hdc) return size;
    HGDIOBJ hOld = SelectObject(hdc, pFont->Handle());
    RECT rc{0, 0, cxWrap > 0 ? cxWrap : 0x7FFF, 0};
    DrawTextA(hdc, text.c_str(), -1, &rc, DT_CALCRECT | (cxWrap > 0 ? DT_WORDBREAK : DT_SINGLELINE));
    SelectObject(hdc, hOld);
    ReleaseDC(nullptr, hdc);
    size.cx = rc.right - rc.left;
    size.cy = rc.bottom - rc.top;
    return size;
}

inline std::string Named(TControl* p)
{
    const std::string name = p->Name();
    const std::string text = p->Caption();
    return (name.empty() ? std::string("control") : name) + (text.empty() ? "" : " \"" + text + "\"");
}

}  // namespace layout_detail

// The problems of the visible controls below pRoot, one line each; empty
// when everything lies inside its parent, apart from its neighbours, and
// every caption fits. Pictures may lie under other controls.
inline std::vector<std::string> LayoutProblems(TWinControl* pRoot)
{
    using namespace layout_detail;
    std::vector<std::string> problems;
    const int cxParent = pRoot->ClientWidth(), cyParent = pRoot->ClientHeight();
    std::vector<TControl*> shown;
    for (int i = 0; i < pRoot->ControlCount(); ++i) {
        TControl* p = pRoot->Controls(i);
        if (p && p->Visible()) shown.push_back(p);
    }
    for (size_t i = 0; i < shown.size(); ++i) {
        TControl* p = shown[i];
        const RECT rc = p->BoundsRect();
        const int cx = rc.right - rc.left, cy = rc.bottom - rc.top;
        if (rc.left < 0 || rc.top < 0 || rc.right > cxParent || rc.bottom > cyParent)
            problems.push_back(Named(p) + " reaches outside " + Named(pRoot));
        // Neighbours: none covers another (a picture may lie under others).
        for (size_t j = i + 1; j < shown.size(); ++j) {
            TControl* q = shown[j];
            if (dynamic_cast<TImage*>(p) || dynamic_cast<TImage*>(q)) continue;
            RECT rq = q->BoundsRect(), overlap;
            if (IntersectRect(&overlap, &rc, &rq)) problems.push_back(Named(p) + " and " + Named(q) + " overlap");
        }
        const std::string text = p->Caption();
        if (!text.empty()) {
            if (TLabel* pLabel = dynamic_cast<TLabel*>(p)) {
                const SIZE need = TextNeeds(p->Font(), text, pLabel->WordWrap() ? cx : 0);
                if (need.cx > cx || need.cy > cy)
                    problems.push_back(Named(p) + " needs " + std::to_string(need.cx) + " x " +
                                       std::to_string(need.cy) + " of " + std::to_string(cx) + " x " +
                                       std::to_string(cy));
            } else if (TSpeedButton* pTool = dynamic_cast<TSpeedButton*>(p)) {
                const SIZE need = pTool->WordWrap() ? pTool->TextExtent(cx - 6) : pTool->TextExtent();
                if (need.cx > cx - 6 || need.cy > cy - 4 || (pTool->WordWrap() && pTool->TextExtent(1).cx > cx - 6))
                    problems.push_back(Named(p) + " is cut");
            } else if (dynamic_cast<TCheckBox*>(p)) {
                if (TextNeeds(p->Font(), text).cx + 20 > cx) problems.push_back(Named(p) + " is cut");
            } else if (dynamic_cast<TGroupBox*>(p)) {
                if (TextNeeds(p->Font(), text).cx + 16 > cx) problems.push_back(Named(p) + " is cut");
            } else if (dynamic_cast<TButton*>(p)) {
                if (TextNeeds(p->Font(), text).cx + 12 > cx) problems.push_back(Named(p) + " is cut");
            }
        }
        if (TWinControl* pInner = dynamic_cast<TWinControl*>(p)) {
            // Edits and lists own no toolkit children; containers do.
            const std::vector<std::string> inner = LayoutProblems(pInner);
            problems.insert(problems.end(), inner.begin(), inner.end());
        }
    }
    return problems;
}

}  // namespace ktxtest
