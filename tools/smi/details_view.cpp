#include "tools/smi/details_view.h"

#include <cstdio>
#include <string_view>

#include "tools/common/field_catalogue.h"
#include "tools/smi/byte_size_text.h"

namespace crvmon::smi {

namespace {

using tools::DeviceSample;
using tools::Field;

bool isHeading(const Field& field) {
    const std::string_view name = field.name;
    return name == "id" || name == "family" || name == "type" || name == "index" || name == "node";
}

std::string line(const char* name, const std::string& value) {
    char head[40];
    std::snprintf(head, sizeof head, "    %-24s", name);
    return head + value + '\n';
}

void appendCores(std::string& out, const std::vector<tools::CoreLoad>& cores) {
    for (const tools::CoreLoad& core : cores) {
        std::string name = "      cluster " + (core.cluster ? std::to_string(*core.cluster) : "?");
        name += core.core ? " core " + std::to_string(*core.core) : " (whole)";
        char share[32] = "N/A";
        if (const auto percent = core.busyPercent()) {
            std::snprintf(share, sizeof share, "%.1f %%", *percent);
        }
        out += line(name.c_str(), std::string(share) + "  (" + std::to_string(core.busyTime) +
                                      " of " + std::to_string(core.totalTime) + ")");
    }
}

void appendProcesses(std::string& out, const std::vector<tools::ProcessLoad>& processes) {
    for (const tools::ProcessLoad& p : processes) {
        char share[32] = "N/A";
        if (const auto percent = p.busyPercent()) {
            std::snprintf(share, sizeof share, "%.1f %%", *percent);
        }
        char text[160];
        std::snprintf(text, sizeof text, "busy %s (%lld of %lld)  quantity %u  amount %llu", share,
                      static_cast<long long>(p.busyTime), static_cast<long long>(p.totalTime),
                      p.quantity, static_cast<unsigned long long>(p.amount));
        out += line(("      pid " + std::to_string(p.pid)).c_str(),
                    p.name.value_or("N/A") + "  " + text);
    }
}

}  // namespace

std::string detailsText(const std::vector<DeviceSample>& devices) {
    std::string out;
    for (const DeviceSample& s : devices) {
        if (!out.empty()) out += '\n';
        out += "Device " + tools::formatDeviceId(s.id) + "  " + tools::familyName(s.family) + " (" +
               tools::targetTypeName(s.id.type) + ")  " + s.node.value_or("N/A") + '\n';
        // A device of no known family shows every field.
        const unsigned bit =
            s.family == tools::Family::Unknown ? tools::kBothFamilies : tools::familyBit(s.family);
        for (const Field& field : tools::fieldCatalogue()) {
            if (isHeading(field) || (field.families & bit) == 0) continue;
            const tools::FieldValue value = field.extract(s);
            if (const auto* cores = std::get_if<std::vector<tools::CoreLoad>>(&value)) {
                out += line(field.name, std::to_string(cores->size()) + " entries");
                appendCores(out, *cores);
            } else if (const auto* list = std::get_if<std::vector<tools::ProcessLoad>>(&value)) {
                out += line(field.name, std::to_string(list->size()));
                appendProcesses(out, *list);
            } else if (const auto* bytes = std::get_if<long long>(&value);
                       bytes != nullptr && std::string_view(field.unit) == "B") {
                out += line(field.name, tools::fieldText(field, value, true) + " (" +
                                            byteSizeText(*bytes) + ")");
            } else {
                out += line(field.name, tools::fieldText(field, value, true));
            }
        }
    }
    return out;
}

}  // namespace crvmon::smi
