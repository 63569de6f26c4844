#include "proxy/faults/point.h"

#include <array>

#include "proxy/rule_fields.h"

namespace proxy {

namespace {

struct point_form {
    point at;
    std::string_view name;
};

constexpr std::array<point_form, 3> point_forms{{
    {point::before_len, "before_len"},
    {point::after_chunk, "after_chunk"},
    {point::before_fin, "before_fin"},
}};

}  // namespace

std::string_view point_name(point p) {
    for (const auto& form : point_forms) {
        if (form.at == p) return form.name;
    }
    return "none";
}

void read_point(const rule_reader& in, rule& r) {
    if (!in.has("at")) reject("at", "required: before_len, after_chunk or before_fin");
    const nlohmann::json& v = in.at("at");
    for (const auto& form : point_forms) {
        if (v.is_string() && v.get_ref<const std::string&>() == form.name) r.at = form.at;
    }
    if (r.at == point::none) reject_value("at", "before_len, after_chunk or before_fin", v);
    switch (r.at) {
        case point::before_len:
            need_kind(r, "at", "before_len", {request_kind::get});
            break;
        case point::before_fin:
            need_kind(r, "at", "before_fin", {request_kind::put});
            break;
        case point::after_chunk:
            need_kind(r, "at", "after_chunk", {request_kind::get, request_kind::put});
            if (!in.has("chunk")) reject("chunk", "required with after_chunk: 1 for the first");
            r.chunk = static_cast<int>(
                in.integer("chunk", 1, 250, "a chunk number from 1 to 250 (1 is the first)"));
            break;
        case point::none:
            break;
    }
    if (r.at != point::after_chunk && in.has("chunk")) {
        reject("chunk", "only with \"at\": \"after_chunk\"");
    }
}

std::string point_words(const fault_settings& s) {
    std::string text = " " + std::string(point_name(s.at));
    if (s.at == point::after_chunk) text += " " + std::to_string(s.chunk);
    return text;
}

void put_point(const fault_settings& s, journal_line& entry) {
    entry["at"] = point_name(s.at);
    if (s.at == point::after_chunk) entry["chunk"] = s.chunk;
}

std::string point_text(const rule& r) {
    switch (r.at) {
        case point::before_len:
            return "before the length header";
        case point::before_fin:
            return "before FIN";
        case point::after_chunk:
            return std::string("after ") + (r.kind == request_kind::get ? "answer" : "payload") +
                   " chunk " + std::to_string(r.chunk);
        case point::none:
            break;
    }
    return "";
}

std::optional<fragment_controls::place> point_at(const rule& r, const fragment_controls& run) {
    const fragment& f = run.what();
    const bool down = run.from() == side::controller;
    const bool before = down && f.starts &&
                        ((r.at == point::before_len && f.what == piece::len) ||
                         (r.at == point::before_fin && f.what == piece::fin));
    if (before) return fragment_controls::place::before;
    const bool after = r.at == point::after_chunk && f.completes && f.index == r.chunk &&
                       ((down && f.what == piece::answer) || (!down && f.what == piece::payload));
    if (after) return fragment_controls::place::after;
    return std::nullopt;
}

std::string point_missed(const rule& r, const request_record& record) {
    if (r.at == point::after_chunk) {
        return std::string(r.kind == request_kind::get ? "the answer" : "the payload") + " has " +
               std::to_string(record.chunks) + (record.chunks == 1 ? " chunk" : " chunks");
    }
    if (r.at == point::before_len) return "the request had no length header";
    return "the request had no FIN";
}

}  // namespace proxy
