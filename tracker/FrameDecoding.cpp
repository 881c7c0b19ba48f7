// Reads only what the controller reports out of the service's messages, which carry many more
// fields. A hand's fingers are its pointables that are extended and not tools.
#include "tracker/FrameDecoding.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "tracker/Validation.h"

namespace Leap {

namespace {

using json = nlohmann::json;

constexpr double kMaxTimestampUs = 9007199254740992.0;  // 2^53: every integer below is exact

// Decoding stops at the first problem; `problem` stays empty while all is well.
struct Reader {
    std::string problem;

    bool fail(std::string what) {
        if (problem.empty()) problem = std::move(what);
        return false;
    }

    // The limits are Validation's; a value too large for a float becomes NaN, which it refuses.
    bool vector(const json& object, const char* key, Vector& out) {
        auto it = object.find(key);
        if (it == object.end()) return fail(std::string("no ") + key);
        if (!it->is_array() || it->size() != 3) return fail(std::string(key) + " is not [x, y, z]");
        float v[3];
        for (size_t i = 0; i < 3; ++i) {
            const json& c = (*it)[i];
            if (!c.is_number()) return fail(std::string(key) + " holds a non-number");
            const double d = c.get<double>();
            v[i] = std::fabs(d) <= std::numeric_limits<float>::max() ? static_cast<float>(d) : NAN;
        }
        out = Vector(v[0], v[1], v[2]);
        return true;
    }

    // Absent: `absent`.
    bool flag(const json& object, const char* key, bool absent, bool& out) {
        auto it = object.find(key);
        if (it == object.end()) {
            out = absent;
            return true;
        }
        if (!it->is_boolean()) return fail(std::string(key) + " is not true or false");
        out = it->get<bool>();
        return true;
    }

    bool integer(const json& object, const char* key, int64_t& out) {
        auto it = object.find(key);
        if (it == object.end()) return fail(std::string("no ") + key);
        if (!it->is_number_integer()) return fail(std::string(key) + " is not an integer");
        // Unsigned values past int64 wrap; ids only need to compare equal.
        out = it->is_number_unsigned() ? static_cast<int64_t>(it->get<uint64_t>()) : it->get<int64_t>();
        return true;
    }

    bool array(const json& object, const char* key, const json*& out) {
        auto it = object.find(key);
        if (it == object.end()) return fail(std::string("no ") + key);
        if (!it->is_array()) return fail(std::string(key) + " is not a list");
        out = &*it;
        return true;
    }

    bool frame(const json& root, Message& m) {
        auto ts = root.find("timestamp");
        if (ts == root.end()) return fail("no timestamp");
        if (!ts->is_number() || !std::isfinite(ts->get<double>()) ||
            std::fabs(ts->get<double>()) > kMaxTimestampUs)
            return fail("timestamp is not a number of microseconds");
        m.timestampUs = static_cast<int64_t>(std::llround(ts->get<double>()));
        const json* hands = nullptr;
        const json* pointables = nullptr;
        if (!array(root, "hands", hands) || !array(root, "pointables", pointables)) return false;
        std::vector<int64_t> ids;
        for (const json& h : *hands) {
            if (!h.is_object()) return fail("a hand is not an object");
            HandData hand;
            int64_t id = 0;
            if (!integer(h, "id", id) || !vector(h, "palmPosition", hand.palmPosition) ||
                !vector(h, "palmNormal", hand.palmNormal))
                return fail("a hand is broken");
            ids.push_back(id);
            m.hands.push_back(std::move(hand));
        }
        for (const json& p : *pointables) {
            if (!p.is_object()) return fail("a pointable is not an object");
            int64_t handId = 0;
            bool extended = true, tool = false;
            // Older protocol versions have no "extended": every finger then counts.
            if (!integer(p, "handId", handId) || !flag(p, "extended", true, extended) ||
                !flag(p, "tool", false, tool))
                return fail("a pointable is broken");
            size_t hand = 0;
            while (hand < ids.size() && ids[hand] != handId) ++hand;
            if (hand == ids.size() || !extended || tool) continue;  // orphans are legal and ignored
            Vector tip;
            if (!vector(p, "tipPosition", tip)) return fail("a pointable is broken");
            m.hands[hand].tips.push_back(tip);
        }
        // Advice only: anything but text is passed over, as a client that does not know it would.
        if (auto w = root.find(kWarningField); w != root.end() && w->is_string())
            m.warning = w->get<std::string>();
        if (m.hands.size() > kMaxHands) return fail("more than 10 hands");
        for (const HandData& hand : m.hands)
            if (const char* problem = handProblem(hand)) return fail(problem);
        return true;
    }

    void version(const json& root, Message& m) {
        auto v = root.find("version");
        m.version = v != root.end() && v->is_number_integer() ? v->get<int64_t>() : -1;
        auto s = root.find("serviceVersion");
        m.serviceVersion = s != root.end() && s->is_string() ? s->get<std::string>() : "unknown";
    }

    bool event(const json& root, Message& m) {
        const json& e = *root.find("event");
        if (!e.is_object()) return fail("event is not an object");
        auto type = e.find("type");
        if (type == e.end() || *type != "deviceEvent") {
            m.kind = Message::Kind::other;
            return true;
        }
        auto state = e.find("state");
        if (state == e.end() || !state->is_object()) return fail("a device event without a state");
        bool attached = true, streaming = true;
        if (!flag(*state, "attached", true, attached) || !flag(*state, "streaming", true, streaming))
            return false;
        m.deviceReady = attached && streaming;
        return true;
    }
};

}  // namespace

Message decodeMessage(std::string_view text) {
    Message m;
    if (text.size() > kMaxMessageBytes) {
        m.problem = "a message over " + std::to_string(kMaxMessageBytes / 1024) + " KiB";
        return m;
    }
    const json root = json::parse(text.begin(), text.end(), nullptr, false);
    if (root.is_discarded()) {
        m.problem = "not JSON";
        return m;
    }
    if (!root.is_object()) {
        m.problem = "not a JSON object";
        return m;
    }
    Reader reader;
    bool ok = true;
    if (root.contains("event")) {
        m.kind = Message::Kind::deviceEvent;
        ok = reader.event(root, m);
    } else if (!root.contains("hands") && (root.contains("version") || root.contains("serviceVersion"))) {
        m.kind = Message::Kind::version;
        reader.version(root, m);
    } else {
        m.kind = Message::Kind::frame;
        ok = reader.frame(root, m);
    }
    if (!ok) {
        Message bad;
        bad.problem = reader.problem;
        return bad;
    }
    return m;
}

Frame toFrame(Message&& frame, int64_t originUs) {
    return Frame(
        FrameData{(frame.timestampUs - originUs) / 1000, std::move(frame.hands), std::move(frame.warning)});
}

}  // namespace Leap
