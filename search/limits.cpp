#include "search/limits.h"

#include "platform/platform.h"

SearchLimitsData SearchLimits = {0, 0, 0, 0, 0, 100, 0, 0, 0};
u8 PostThinking = 1;
u8 UciMode = 0;
u8 XboardMode = 0;
u8 AnalyzeMode = 0;
u8 StopSearch = 0;

void AllocateTime() {
    SearchLimitsData& l = SearchLimits;
    l.StartTime = TickCount();
    i32 t;
    if (AnalyzeMode) {
        l.HardLimit = l.IterationLimit = 0;
        return;
    } else if (l.MoveTime) {
        l.HardLimit = l.IterationLimit = l.MoveTime;
        return;
    } else if (l.MovesToGo) {
        u32 m = l.MovesToGo;
        double divisor = m < 25 ? (m - 1) * 14.0 / 24.0 + 1.0 : 15.0;
        double v = l.TimeLeft / divisor + l.Increment - 20.0 * (m < 15 ? m : 15);
        t = v >= 2147483647.0 ? 2147483647 : i32(v);
        if (t <= 0) t = 1;
    } else if (l.TimeLeft) {
        // In 64 bits: a large increment must not wrap the sum round to a tiny or negative time.
        long long v = (long long)(l.TimeLeft / 15) + l.Increment - 300;
        t = v >= 2147483647ll ? 2147483647 : i32(v);
        if (t <= 0) t = 1;
    } else {
        l.HardLimit = l.IterationLimit = 0;
        return;
    }
    l.HardLimit = u32(t);
    l.IterationLimit = u32(t * 0.17);
    if (l.IterationLimit == 0) l.IterationLimit = 1;
}
