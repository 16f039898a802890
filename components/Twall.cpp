#include "Twall.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "registry.h"
#include "timer.h"
#include "win32/kernel.h"
#include "win32/user.h"

namespace {

constexpr const char* kDesktopKey = "\\Control Panel\\desktop";

bool file_exists(const std::string& name) {
    // A name with a zero byte in it would name a different file further on.
    if (name.empty() || name.find('\0') != std::string::npos) return false;
    return win32_file_size(name.c_str()) >= 0;
}

// The form reader creates the changer by class name.
const bool registered = [] {
    RegisterClass(TWallPaperChanger::StaticClassInfo());
    return true;
}();

}  // namespace

const ClassInfo& TWallPaperChanger::StaticClassInfo() {
    // No stored defaults: every property is written.
    static const PropInfo active =
        props::Ord<&TWallPaperChanger::Active, &TWallPaperChanger::SetActive>("Active", PropKind::Boolean);
    static const PropInfo tiled =
        props::Ord<&TWallPaperChanger::Tiled, &TWallPaperChanger::SetTiled>("Tiled", PropKind::Boolean);
    static const PropInfo interval =
        props::Ord<&TWallPaperChanger::Interval, &TWallPaperChanger::SetInterval>("Interval", PropKind::Integer);
    static const PropInfo filename =
        props::Str<&TWallPaperChanger::Filename, &TWallPaperChanger::SetFilename>("Filename");
    static const PropInfo on_begin = props::Evt<&TWallPaperChanger::OnBeginChange>("OnBeginChange");
    static const PropInfo on_finish = props::Evt<&TWallPaperChanger::OnFinishChange>("OnFinishChange");
    static const PropInfo* const list[] = {TComponent::StaticClassInfo().props[0],
                                           &active, &tiled, &interval, &filename, &on_begin, &on_finish};
    static const ClassInfo info{"TWallPaperChanger", &TComponent::StaticClassInfo(), list, {}, {},
                                props::Create<TWallPaperChanger>};
    return info;
}

TWallPaperChanger::TWallPaperChanger(TComponent* owner) : TComponent(owner), timer_(new TTimer(this)) {
    timer_->SetEnabled(false);
    interval_ = timer_->Interval();
}

// The timer goes with the components this one owns.
TWallPaperChanger::~TWallPaperChanger() = default;

void TWallPaperChanger::SetActive(bool on) {
    if (on == active_) return;
    active_ = on;
    // While designing only the value is kept; stopping is always safe.
    if (on && !HasState(csDesigning)) {
        TNotifyEvent handler;
        handler.Bind(this, &TWallPaperChanger::ChangeWallpaper);
        timer_->SetOnTimer(handler);
        timer_->SetEnabled(true);
    } else {
        timer_->SetOnTimer(TNotifyEvent());
        timer_->SetEnabled(false);
    }
}

void TWallPaperChanger::SetInterval(int ms) {
    interval_ = ms;
    timer_->SetInterval(ms);
}

void TWallPaperChanger::SetFilename(const std::string& name) {
    if (HasState(csDesigning) || file_exists(name)) filename_ = name;
}

void TWallPaperChanger::ChangeWallpaper(TObject*) {
    try {
        OnBeginChange(this);
        ApplyWallpaper(filename_, tiled_);
    } catch (...) {
        // The error goes on to the application, which shows it in a modal
        // box whose loop would tick again and fail again, box upon box:
        // a failed change stops the changer.
        SetActive(false);
        throw;
    }
    // The handler may free this component: nothing of it is used after.
    OnFinishChange(this);
}

void ApplyWallpaper(const std::string& name, bool tiled) {
    TRegistry reg;
    reg.SetRootKey(HKEY_CURRENT_USER);
    // A key that cannot be opened leaves none open, and the write raises.
    reg.OpenKey(kDesktopKey, false);
    reg.WriteString("TileWallPaper", tiled ? "1" : "0");

    std::array<char, 256> buffer{};
    std::memcpy(buffer.data(), name.data(), std::min(name.size(), buffer.size() - 1));
    SystemParametersInfoA(SPI_SETDESKWALLPAPER, 1, buffer.data(), SPIF_UPDATEINIFILE);

    reg.OpenKey(kDesktopKey, false);
    reg.WriteString("Wallpaper", name);
}
