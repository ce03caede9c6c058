// Long-run check: the effect loaded through minihost as the host loads it, one small composition at
// Draft and the Large voxel size (the smallest grid), driven for many requests in one process while
// resident memory and the live OpenCL objects per kind are sampled.
//   1. playback: frames 0 … frames − 1 in order;
//   2. scrubs: a frame drawn by a fixed-seed generator from 0 … scrub-max, then the next frame;
//   3. the end of the time line: a held frame re-rendered, playback across 599, the emitter past 599
//      and the 600-step cap of one request, seen through the effect's frame line and its volume
//      export (the frame the fields hold and a digest of them). On the main instance only after
//      --frames 600; always on Source Only instances with a keyed Source Position, whose steps are
//      cheap enough to simulate 600 of them several times.
// The object counts come from the counting pass-through library built beside this program (it
// restarts itself with LD_LIBRARY_PATH pointing there); without it they print as "-".
//   long_run [--frames n] [--scrubs n] [--every n] [--warmup n] [--scrub-max f] [--seed s]
//            [--size WxH] [--minutes m] [--plugin path] [--no-shim] [--no-end-checks]
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/volume_export.h"
#include "minihost/host.h"
#include "minihost/param_lookup.h"

namespace {

struct Options {
    int frames = 600;
    int scrubs = 3000;
    int every = 25;
    // The snapshot ring's buffers are touched for the first time as it fills (frames 0 … 56 of
    // playback), and resident memory grows with them until then.
    int warmup = 64;
    int scrubMax = 650;
    std::uint64_t seed = 20261207;
    int width = 160;
    int height = 90;
    std::string plugin = CINDEL_PLUGIN_PATH;
    bool useShim = true;
    bool endChecks = true;
    double minutes = 0;  // playback and scrubs stop after this long; 0: no limit
};

int usage() {
    std::fprintf(stderr,
                 "usage: long_run [--frames n] [--scrubs n] [--every n] [--warmup n] [--scrub-max f] [--seed s]\n"
                 "                [--size WxH] [--minutes m] [--plugin path] [--no-shim] [--no-end-checks]\n");
    return 2;
}

double nowSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double residentMiB() {
    std::ifstream statm("/proc/self/statm");
    long long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The pass-through library's counters, when the effect loaded it.
struct ObjectCounters {
    int (*kinds)() = nullptr;
    const char* (*name)(int) = nullptr;
    long long (*live)(int) = nullptr;
    long long (*foreign)() = nullptr;

    bool find() {
        void* lib = dlopen("libOpenCL.so.1", RTLD_NOW | RTLD_NOLOAD);
        if (!lib) return false;
        kinds = reinterpret_cast<int (*)()>(dlsym(lib, "cindel_cl_count_kinds"));
        name = reinterpret_cast<const char* (*)(int)>(dlsym(lib, "cindel_cl_count_name"));
        live = reinterpret_cast<long long (*)(int)>(dlsym(lib, "cindel_cl_count_live"));
        foreign = reinterpret_cast<long long (*)()>(dlsym(lib, "cindel_cl_count_foreign"));
        return isPresent();
    }
    bool isPresent() const { return kinds && name && live && foreign; }
    int count() const { return isPresent() ? kinds() : 0; }
};

struct Sample {
    long index;
    const char* phase;
    int frame;
    double rssMiB;
    std::vector<long long> live;
    double seconds;       // this request
    double totalSeconds;  // since the first request
};

std::uint64_t fnv1a(std::uint64_t h, const void* data, std::size_t bytes) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < bytes; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

// What one request showed.
struct Reply {
    PF_Err err = PF_Err_NONE;
    double seconds = 0;
    int label = -1;  // F= of the effect's frame line; −1 without one
    std::uint64_t imageDigest = 0;
    int heldFrame = -1;  // from the volume export, when it was on
    std::uint64_t fieldsDigest = 0;
};

class LongRun {
public:
    explicit LongRun(const Options& o) : o_(o) {
        host_ = minihost::Host::load(o.plugin);
        minihost::Host::clearCapturedLog();
        host_->setLogMode(minihost::LogMode::Capture);
        host_->settings().timeScale = 24;
        host_->settings().timeStep = 1;
        host_->settings().totalTime = 2000;
        if (host_->globalSetup() || host_->paramsSetup()) throw std::runtime_error("the effect did not start");
        hasCounters_ = counters_.find();
        main_ = &addInstance("Full", 0);
    }

    // keys: 0 a fixed Source Position; 1 one place for frames 0 … 299, another from 300; 2 the same
    // and a third place from frame 620.
    minihost::Instance& addInstance(const char* simMode, int keys) {
        minihost::Instance& in = host_->addInstance(o_.width, o_.height);
        const minihost::ParamLookup lookup(host_->definitions());
        auto choose = [&](const char* param, const char* choice) {
            const minihost::ParamDefinition& d = lookup.find(param);
            in.set(d.index, minihost::paramValueFromInput(d, minihost::ParamInput::ofText(choice)));
        };
        choose("Quality", "Draft");
        choose("Voxel Size", "Large");
        choose("Sim Mode", simMode);
        const PF_ParamIndex at = lookup.find("Source Position").index;
        auto key = [&](A_long frame, double x, double y) {
            in.addKeyframe(at, {frame, 24}, minihost::ParamValue::point3D(x * o_.width, y * o_.height, 0),
                           minihost::Interpolation::Hold);
        };
        if (keys >= 1) key(0, 0.3, 0.7), key(300, 0.6, 0.7);
        if (keys >= 2) key(620, 0.8, 0.4);
        return in;
    }

    Reply request(minihost::Instance& in, int frame, bool withFields = false) {
        Reply r;
        if (withFields)
            host_->setVolumeReceiver([&r](const CindelVolumeFields& f) {
                const std::size_t cells = std::size_t(f.side) * std::size_t(f.side) * std::size_t(f.side);
                std::uint64_t h = 14695981039346656037ull;
                h = fnv1a(h, f.density, cells * sizeof(float));
                h = fnv1a(h, f.temperatureKelvin, cells * sizeof(float));
                h = fnv1a(h, f.fuel, cells * sizeof(float));
                r.fieldsDigest = fnv1a(h, f.velocityCellsPerSecond, 4 * cells * sizeof(float));
                r.heldFrame = f.heldFrame;
            });
        host_->settings().setFrame(frame);
        minihost::World out(o_.width, o_.height, 8);
        const double start = nowSeconds();
        r.err = host_->renderFrame(in, out);
        r.seconds = nowSeconds() - start;
        // minihost records every parameter checkout for tests; a long run would count its growth.
        in.checkouts().clear();
        if (withFields) {
            host_->setVolumeReceiver({});
            host_->rethrowVolumeFailure();
        }
        for (const std::string& line : minihost::Host::capturedLog()) {
            const std::size_t at = line.find("[FRAME]");
            const std::size_t f = line.find(" F=", at == std::string::npos ? 0 : at);
            if (at != std::string::npos && f != std::string::npos) r.label = std::atoi(line.c_str() + f + 3);
        }
        minihost::Host::clearCapturedLog();
        const auto* bytes = static_cast<const std::uint8_t*>(static_cast<const void*>(out.get()->data));
        r.imageDigest = fnv1a(14695981039346656037ull, bytes, std::size_t(out.rowBytes()) * std::size_t(out.height()));
        if (r.err) {
            std::fprintf(stderr, "long_run: frame %d failed with error %d\n", frame, int(r.err));
            std::exit(1);
        }
        return r;
    }

    // One request of the sampled phases, with a table row every --every requests.
    void sampled(const char* phase, int frame) {
        const Reply r = request(*main_, frame);
        auto& [count, seconds] = phases_[phase];
        ++count;
        seconds += r.seconds;
        if (requests_ % o_.every == 0 || requests_ < 3) record(phase, frame, r.seconds);
        ++requests_;
    }

    void record(const char* phase, int frame, double seconds) {
        if (startSeconds_ == 0) startSeconds_ = nowSeconds();
        Sample s{requests_, phase, frame, residentMiB(), {}, seconds, nowSeconds() - startSeconds_};
        for (int k = 0; k < counters_.count(); ++k) s.live.push_back(counters_.live(k));
        samples_.push_back(s);
        printRow(s);
    }

    void printHeading() const {
        std::printf("%7s %-8s %5s %8s", "request", "phase", "frame", "RSS MiB");
        for (int k = 0; k < counters_.count(); ++k) std::printf(" %8s", counters_.name(k));
        if (!hasCounters_) std::printf(" %8s", "objects");
        std::printf(" %8s %9s\n", "seconds", "elapsed");
    }
    void printRow(const Sample& s) const {
        std::printf("%7ld %-8s %5d %8.1f", s.index, s.phase, s.frame, s.rssMiB);
        for (long long v : s.live) std::printf(" %8lld", v);
        if (!hasCounters_) std::printf(" %8s", "-");
        std::printf(" %8.2f %9.1f\n", s.seconds, s.totalSeconds);
        std::fflush(stdout);
    }

    void printPhaseCosts() const {
        for (const auto& [phase, cost] : phases_)
            std::printf("cost: %-8s %6ld requests, %8.1f s, %6.2f s a request\n", phase.c_str(), cost.first,
                        cost.second, cost.second / double(cost.first));
    }

    // RSS growth and the spread of each object count after the warm-up requests.
    void printVerdict() const {
        std::vector<const Sample*> after;
        for (const Sample& s : samples_)
            if (s.index >= o_.warmup) after.push_back(&s);
        if (after.size() < 2) {
            std::printf("verdict: too few samples after %d warm-up requests\n", o_.warmup);
            return;
        }
        double lo = after.front()->rssMiB, hi = lo;
        for (const Sample* s : after) lo = std::min(lo, s->rssMiB), hi = std::max(hi, s->rssMiB);
        std::printf("verdict: RSS %.1f MiB at request %ld, %.1f MiB at request %ld: growth %+.1f MiB "
                    "(min %.1f, max %.1f over %zu samples after %d warm-up requests)\n",
                    after.front()->rssMiB, after.front()->index, after.back()->rssMiB, after.back()->index,
                    after.back()->rssMiB - after.front()->rssMiB, lo, hi, after.size(), o_.warmup);
        if (!hasCounters_) {
            std::printf("verdict: OpenCL objects not counted (no pass-through library)\n");
            return;
        }
        std::printf("verdict: OpenCL objects max-min after warm-up:");
        bool isFlat = true;
        for (int k = 0; k < counters_.count(); ++k) {
            long long mn = after.front()->live[k], mx = mn;
            for (const Sample* s : after) mn = std::min(mn, s->live[k]), mx = std::max(mx, s->live[k]);
            std::printf(" %s %lld", counters_.name(k), mx - mn);
            isFlat = isFlat && mx == mn;
        }
        std::printf(" (%s); foreign releases %lld\n", isFlat ? "flat" : "NOT flat", counters_.foreign());
    }

    // The end of the time line on the main instance, then the cap on a cheap second instance.
    void endChecks() {
        if (o_.frames >= 600) {
            std::printf("\n# frames past 599 (main instance, Full mode)\n");
            const Reply r599 = request(*main_, 599, true);
            line("scrub", 599, r599);
            pastTheEnd(*main_, r599);
        }
        std::printf("\n# frames past 599 and the 600-step cap (Source Only instances, whose steps are cheap; the\n"
                    "# Source Position holds one place over frames 0 … 299 and another from 300)\n");
        minihost::Instance& b = addInstance("Source Only", 1);
        const double start = nowSeconds();
        Reply played;
        for (int f = 0; f <= 599; ++f) played = request(b, f, f == 599);
        std::printf("played 0 … 599 in %.1f s\n", nowSeconds() - start);
        line("playback", 599, played);
        const Reply b650 = pastTheEnd(b, played);
        // The same keys and a third at frame 620, which the design never reads.
        minihost::Instance& c = addInstance("Source Only", 2);
        const Reply c599 = request(c, 599, true);
        const Reply c650 = request(c, 650, true);
        line("other instance, fresh request", 599, c599);
        line("its playback onwards", 650, c650);
        check("frame 599 simulated in one request equals frame 599 reached by playback",
              c599.fieldsDigest == played.fieldsDigest);
        check("past 599 the emitter stays at frame 599's place (a key at frame 620 changes nothing)",
              c650.fieldsDigest == b650.fieldsDigest && c650.heldFrame == 650);

        // A request of another instance empties the snapshot ring, so the next request starts from 0.
        auto fresh = [&](int frame) {
            request(*main_, 0);
            return request(b, frame, true);
        };
        const Reply capped = fresh(650);
        const Reply capped8 = fresh(656);
        const Reply after = request(b, 657, true);
        line("fresh request (capped)", 650, capped);
        line("fresh request (capped), 8 | 656", 656, capped8);
        line("next frame after it", 657, after);
        check("a capped request runs 600 steps: frame 599's fields, labelled with the request",
              capped.fieldsDigest == played.fieldsDigest && capped.heldFrame == 599 && capped.label == 650);
        std::printf("  frame 657 after the capped 656: fields hold frame %d (%s)\n", after.heldFrame,
                    after.heldFrame == 657 ? "resumed from a snapshot of the capped 656"
                                           : "no snapshot of a capped state: capped again from frame 0");
    }

    void line(const char* what, int frame, const Reply& r) const {
        std::printf("%-32s frame %3d: label F=%d, fields hold %d, %6.2f s, fields %016llx, image %016llx\n", what,
                    frame, r.label, r.heldFrame, r.seconds, (unsigned long long)r.fieldsDigest,
                    (unsigned long long)r.imageDigest);
    }

    // From a held frame 599 onwards; returns frame 650.
    Reply pastTheEnd(minihost::Instance& in, const Reply& r599) {
        const Reply again = request(in, 599, true);
        const Reply r600 = request(in, 600, true);
        const Reply r650 = request(in, 650, true);
        const Reply r650b = request(in, 650, true);
        line("same frame again", 599, again);
        line("playback", 600, r600);
        line("scrub forward", 650, r650);
        line("same frame again", 650, r650b);
        check("re-rendering a held frame gives the same fields and image",
              again.fieldsDigest == r599.fieldsDigest && again.imageDigest == r599.imageDigest &&
                  r650b.fieldsDigest == r650.fieldsDigest && r650b.imageDigest == r650.imageDigest);
        check("frame 600 continues the simulation: new fields, not frame 599's held",
              r600.heldFrame == 600 && r600.fieldsDigest != r599.fieldsDigest);
        check("frames past 599 are labelled and simulated as requested",
              r600.label == 600 && r650.label == 650 && r650.heldFrame == 650);
        return r650;
    }

    void check(const char* what, bool ok) {
        std::printf("  %s: %s\n", ok ? "ok  " : "FAIL", what);
        failures_ += ok ? 0 : 1;
    }

    // Global set-down must leave nothing alive.
    void shutDown() {
        const PF_Err err = host_->shutdown();
        std::printf("\nafter global set-down (error %d): RSS %.1f MiB, live objects", int(err), residentMiB());
        if (!hasCounters_) std::printf(" not counted\n");
        long long left = 0;
        for (int k = 0; k < counters_.count(); ++k) {
            std::printf(" %s %lld", counters_.name(k), counters_.live(k));
            left += counters_.live(k);
        }
        if (hasCounters_) std::printf(" (%s)\n", left == 0 ? "none" : "LEFT BEHIND");
        failures_ += (hasCounters_ && left != 0) || err ? 1 : 0;
    }

    bool hasCounters() const { return hasCounters_; }
    int failures() const { return failures_; }

private:
    Options o_;
    std::unique_ptr<minihost::Host> host_;
    minihost::Instance* main_ = nullptr;
    ObjectCounters counters_;
    bool hasCounters_ = false;
    std::vector<Sample> samples_;
    long requests_ = 0;
    std::map<std::string, std::pair<long, double>> phases_;  // requests and seconds by phase
    double startSeconds_ = 0;
    int failures_ = 0;
};

// Scrub targets: a 64-bit LCG, so the sequence is the same on every build.
int nextScrubFrame(std::uint64_t& state, int maxFrame) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return int((state >> 33) % std::uint64_t(maxFrame + 1));
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--no-shim") {
            o.useShim = false;
        } else if (a == "--no-end-checks") {
            o.endChecks = false;
        } else if (!hasValue) {
            return false;
        } else if (a == "--frames") {
            o.frames = std::atoi(argv[++i]);
        } else if (a == "--scrubs") {
            o.scrubs = std::atoi(argv[++i]);
        } else if (a == "--every") {
            o.every = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--warmup") {
            o.warmup = std::atoi(argv[++i]);
        } else if (a == "--scrub-max") {
            o.scrubMax = std::max(0, std::atoi(argv[++i]));
        } else if (a == "--seed") {
            o.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--minutes") {
            o.minutes = std::atof(argv[++i]);
        } else if (a == "--plugin") {
            o.plugin = argv[++i];
        } else if (a == "--size") {
            if (std::sscanf(argv[++i], "%dx%d", &o.width, &o.height) != 2 || o.width < 1 || o.height < 1) return false;
        } else {
            return false;
        }
    }
    return o.frames >= 0 && o.scrubs >= 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) return usage();
    // The effect opens "libOpenCL.so.1" by name: start again with the counting one first in the path.
    if (o.useShim && !std::getenv("CINDEL_LONG_RUN_SHIM")) {
        const char* old = std::getenv("LD_LIBRARY_PATH");
        const std::string path = std::string(CINDEL_CL_SHIM_DIR) + (old && *old ? std::string(":") + old : "");
        setenv("LD_LIBRARY_PATH", path.c_str(), 1);
        setenv("CINDEL_LONG_RUN_SHIM", "1", 1);
        execv("/proc/self/exe", argv);
        std::perror("long_run: cannot restart with the counting library");
        return 1;
    }

    std::printf("long_run: %dx%d, Draft, Voxel Size Large; %d playback frames, %d scrubs (0 … %d, seed %llu), "
                "a row every %d requests, warm-up %d\n",
                o.width, o.height, o.frames, o.scrubs, o.scrubMax, (unsigned long long)o.seed, o.every, o.warmup);
    std::printf("plug-in: %s\n", o.plugin.c_str());
#ifdef NDEBUG
    std::printf("build:   release, " __DATE__ "\n");
#else
    std::printf("build:   debug, " __DATE__ "\n");
#endif
    std::printf("RSS before the effect: %.1f MiB\n", residentMiB());
    try {
        const double setupStart = nowSeconds();
        LongRun run(o);
        std::printf("global set-up %.1f s; OpenCL objects %s\n\n", nowSeconds() - setupStart,
                    run.hasCounters() ? "counted" : "not counted (the effect did not load the counting library)");
        run.printHeading();
        run.record("start", -1, 0);
        const double limitAt = nowSeconds() + o.minutes * 60;
        bool isStopped = false;
        auto isOverTime = [&] {
            if (isStopped || o.minutes <= 0 || nowSeconds() < limitAt) return isStopped;
            std::printf("# stopped at the --minutes limit\n");
            return isStopped = true;
        };
        for (int f = 0; f < o.frames && !isOverTime(); ++f) run.sampled("playback", f);
        run.record("played", -1, 0);
        std::uint64_t state = o.seed;
        for (int i = 0; i < o.scrubs && !isOverTime(); ++i) {
            const int f = nextScrubFrame(state, o.scrubMax);
            run.sampled("scrub", f);
            run.sampled("next", f + 1);
        }
        if (o.scrubs) run.record("scrubbed", -1, 0);
        run.printPhaseCosts();
        run.printVerdict();
        if (o.endChecks) run.endChecks();
        run.shutDown();
        return run.failures() ? 1 : 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "long_run: %s\n", e.what());
        return 1;
    }
}
