// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A progress-bar control: owns one "msctls_progress32" child window and keeps every property
// in its own members, so that values survive re-creation of the child (the style bits for
// Smooth and Orientation can only be set when the child is made).
#include "platform/base/Win32Types.h"
#include "winsupport/PropertyBag.h"

#include <QFrame>
#include <cstdint>

namespace postlark {

class ProgressBar : public QFrame {
    Q_OBJECT

public:
    explicit ProgressBar(QWidget* parent = nullptr);
    ~ProgressBar() override;

    // Gets/sets the orientation of the progress bar control (for vertical orientation
    // requires COMCTL32.DLL v4.70 or above)
    std::int32_t Orientation() const { return orientation_; }
    void SetOrientation(std::int32_t eOrientation);
    // Gets/sets the minimum value of the progress bar control (for values > 64k requires
    // COMCTL32.DLL v4.70 or above)
    std::int32_t Min() const { return min_; }
    void SetMin(std::int32_t lMin);
    // Gets/sets the maximum value of the progress bar control (for values > 64k requires
    // COMCTL32.DLL v4.70 or above)
    std::int32_t Max() const { return max_; }
    void SetMax(std::int32_t lMax);
    // Gets/sets whether the progress bar is shown as a smooth bar rather than a segmented one.
    // (Smooth bars require COMCTL32.DLL v4.70 or above)
    bool Smooth() const { return smooth_; }
    void SetSmooth(bool bSmooth);
    // Gets the hWnd of the control.  The progress bar itself is the only child of the control.
    win::HWND hWnd() const { return hWnd_; }
    // Gets/sets the border style of the progress bar.
    std::int32_t BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(std::int32_t eBorderStyle);
    // Gets/sets the back color of the progress bar control (requires COMCTL32.DLL v4.71 or
    // above)
    std::int32_t BackColor() const { return backColor_; }
    void SetBackColor(std::int32_t oNewBackColor);
    // Gets/sets the bar color of the progress bar control (requires COMCTL32.DLL v4.71 or
    // above)
    std::int32_t ForeColor() const { return foreColor_; }
    void SetForeColor(std::int32_t oNewForeColor);
    // Gets/sets the position of the progress bar control l (for values > 64k requires
    // COMCTL32.DLL v4.70 or above)
    std::int32_t Position() const { return position_; }
    void SetPosition(std::int32_t lPos);
    // Gets/sets the amount the progress position will be incremented when the StepIt method is
    // called.
    std::int32_t Step() const { return step_; }
    void SetStep(std::int32_t lStep);
    // Steps the progress position up by the amount specified in the Step property.
    void StepIt();

    // A new control placed on a form.
    void InitProperties();
    // Loading and saving the design-time properties.
    void ReadProperties(const PropertyBag& bag);
    void WriteProperties(PropertyBag& bag) const;

signals:
    // Tells the container that a property changed, so that the form saves it.
    void PropertyChanged(const QString& propertyName);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    void CreateProgressWindow();
    void DestroyProgressWindow();
    void RecreateProgressWindow();
    void ApplyRange();
    std::int32_t TranslateColour(std::int32_t oleColour) const;
    void ApplyBorderStyle(std::int32_t style);
    void Resize();
    QSize ChildPixelSize() const;
    std::int32_t AmbientBackColor() const;
    win::LRESULT Send(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) const;

    win::HWND hWnd_ = 0;
    std::int32_t backColor_ = 0;
    std::int32_t foreColor_ = static_cast<std::int32_t>(0x8000000D);
    bool smooth_ = false;
    std::int32_t orientation_ = 0;
    std::int32_t borderStyle_ = 0;
    std::int32_t position_ = 0;
    std::int32_t min_ = 1;
    std::int32_t max_ = 100;
    std::int32_t step_ = 1;
};

} // namespace postlark
