#pragma once
// The settings dialog's view of the running program.
#include "app/context.h"
#include "app/startup.h"
#include "settings/ui/frm_setup.h"

namespace kv {

class AppSetupHost : public SetupHost {
  public:
    explicit AppSetupHost(Context& cx) : cx_(cx) {}
    Settings& Record() override { return cx_.settings; }
    Trace& TraceFile() override { return cx_.trace; }
    MainView* View() override { return &cx_.ports.view; }
    void SetPolling(bool on) override {
        cx_.ports.tmrSOHO.SetEnabled(on);
        cx_.link.SetLinkReady(on);
    }
    void ApplyIntervals() override {
        cx_.ports.tmrDSP.SetInterval(cx_.settings.dspint);
        cx_.ports.tmrSOHO.SetInterval(cx_.settings.sohoint);
    }
    bool StoreRecord() override {
        const bool stored = RegCopy(cx_, RegCopyDirection::Store);
        // The tip follows its option at once, not at the next poll.
        cx_.ShowTrayState();
        return stored;
    }

  private:
    Context& cx_;
};

}  // namespace kv
