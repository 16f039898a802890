// A non-visual component that sets a bitmap file as the desktop wallpaper,
// tiled or centred, on every tick of its timer while it is active.
#pragma once

#include <string>

#include "classes.h"

class TTimer;

class TWallPaperChanger : public TComponent {
public:
    explicit TWallPaperChanger(TComponent* owner);
    ~TWallPaperChanger() override;

    // Arms the timer; the first change comes one Interval later, not now.
    bool Active() const { return active_; }
    void SetActive(bool on);
    bool Tiled() const { return tiled_; }
    void SetTiled(bool on) { tiled_ = on; }
    int Interval() const { return interval_; }
    void SetInterval(int ms);
    // At run time only the name of an existing file is taken; anything
    // else leaves the previous name in place.
    const std::string& Filename() const { return filename_; }
    void SetFilename(const std::string& name);

    TNotifyEvent OnBeginChange;
    TNotifyEvent OnFinishChange;

    FW_CLASS_INFO();

protected:
    // The timer's handler: one change, between the two events.
    void ChangeWallpaper(TObject* sender);

private:
    bool active_ = false;
    bool tiled_ = false;
    TTimer* timer_;  // owned as a component
    int interval_ = 1000;
    std::string filename_;
};

// Records whether the wallpaper is tiled, hands the file to the system and
// records its name, all under the current user's "Control Panel\desktop",
// which must exist. Raises ERegistryException when the key cannot be
// opened or a value written; when that happens to the first value, the
// system is not asked at all.
void ApplyWallpaper(const std::string& name, bool tiled);
