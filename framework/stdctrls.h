// Standard controls: the label.
#pragma once

#include "controls.h"

// A caption drawn on the parent; transparent labels leave what lies beneath.
class TLabel : public TGraphicControl {
public:
    explicit TLabel(TComponent* owner);

    TTextAlignment Alignment() const { return alignment_; }
    void SetAlignment(TTextAlignment a);
    // Fits the bounds to the caption whenever it or the font changes.
    bool AutoSize() const { return auto_size_; }
    void SetAutoSize(bool v);
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool v);
    bool WordWrap() const { return word_wrap_; }
    void SetWordWrap(bool v);
    // '&' marks an accelerator (drawn underlined) unless this is off.
    bool ShowAccelChar() const { return show_accel_char_; }
    void SetShowAccelChar(bool v);

    void CMTextChanged() override;
    void CMFontChanged() override;

    FW_CLASS_INFO();

protected:
    void Paint() override;

private:
    UINT DrawFlags() const;
    void AdjustBounds();

    TTextAlignment alignment_ = taLeftJustify;
    bool auto_size_ = true;
    bool transparent_ = false;
    bool word_wrap_ = false;
    bool show_accel_char_ = true;
};
