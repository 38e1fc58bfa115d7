// The [[veltara]] and [veltara_service] tables of a scenario file.
#include <climits>
#include <cstdint>
#include <string>

#include "sim/model/scenario_reader.h"

namespace crvmon::sim::toml_scenario {
namespace {

std::string processName(const Reader& reader, const toml::node& node, const std::string& key) {
    const std::string& text = reader.string(node, key);
    if (!isProcessName(text)) {
        reader.fail(node.source(), keyName(key) + " must be 1 to " +
                                       std::to_string(kProcessNameMax) +
                                       " printable ASCII characters");
    }
    return text;
}

// Characters U+0001 to U+00FF, each taken as the byte of the same value; so "\u00E9" is the
// byte 0xE9, as the library widens it back for the pipe name.
std::string nameBytes(const Reader& reader, const toml::node& node, const std::string& key) {
    const std::string& text = reader.string(node, key);
    std::string bytes;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::uint32_t code = lead;
        std::size_t length = 1;
        if (lead >= 0xC0 && lead < 0xE0 && i + 1 < text.size()) {
            code = ((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
            length = 2;
        } else if (lead >= 0x80) {
            code = 0x800;  // three or four bytes: beyond U+00FF in any case
        }
        if (code > 0xFF) {
            reader.fail(node.source(), keyName(key) +
                                           " holds a character above U+00FF: each "
                                           "character stands for one byte");
        }
        if (code < 0x20 || code == 0x7F || code == '/' || code == '\\') {
            reader.fail(node.source(),
                        keyName(key) + " must not hold control characters, '/' or '\\'");
        }
        bytes.push_back(static_cast<char>(code));
        i += length;
    }
    if (bytes.size() > kVeltaraNameMax) {
        reader.fail(node.source(), keyName(key) + " must be at most 64 bytes, got " +
                                       std::to_string(bytes.size()));
    }
    return bytes;
}

std::uint32_t commandKey(const Reader& reader, const toml::source_region& where,
                         std::string_view name, const std::string& key) {
    const auto command = veltaraCommandByName(name);
    if (!command) {
        reader.fail(where, keyName(key) + " names \"" + std::string(name) +
                               "\", which is not a command (IOC_VERSION ... IOC_READ_SNAPSHOT, "
                               "IOC_HOST_INFO)");
    }
    if (veltaraReplyShape(*command) == VeltaraReplyShape::None) {
        reader.fail(where, keyName(key) + " names " + std::string(name) +
                               ", which the service never answers");
    }
    return *command;
}

VeltaraWorkConfig parseWork(const Reader& reader, const toml::table& table,
                            const std::string& path) {
    VeltaraWorkConfig work;
    const Reader::Given given =
        reader.keys(table, path, reader.rows(work, veltaraWorkKeys(), path, {}));
    if (work.busyUs > work.periodUs) {
        const toml::node* busy = given("busy_us");
        reader.fail(busy ? busy->source() : table.source(),
                    keyName(member(path, "busy_us")) + " (" + std::to_string(work.busyUs) +
                        " us) exceeds period_us (" + std::to_string(work.periodUs) + " us)");
    }
    if (const toml::node* stop = given("stop_us"); stop && *work.stopUs <= work.startUs) {
        reader.fail(stop->source(), keyName(member(path, "stop_us")) + " must lie after start_us");
    }
    return work;
}

VeltaraDeviceFaults parseFaults(const Reader& reader, const toml::table& table,
                                const std::string& path) {
    VeltaraDeviceFaults faults;
    // A table from command names to numbers.
    auto perCommand = [&](std::string_view key, std::int64_t max, std::string_view unit,
                          bool statusOnly, std::map<std::uint32_t, std::uint32_t>& into) {
        auto* target = &into;
        return std::pair{
            key, std::function<void(const toml::node&)>([&, key, max, unit, statusOnly,
                                                         target](const toml::node& node) {
                const std::string tablePath = member(path, key);
                for (auto&& [name, value] : reader.table(node, tablePath)) {
                    const std::string itemPath = member(tablePath, name.str());
                    const std::uint32_t command =
                        commandKey(reader, name.source(), name.str(), tablePath);
                    if (statusOnly && veltaraReplyShape(command) != VeltaraReplyShape::Status) {
                        reader.fail(name.source(), keyName(itemPath) +
                                                       ": the command does not answer with a "
                                                       "status word");
                    }
                    (*target)[command] =
                        static_cast<std::uint32_t>(reader.integer(value, itemPath, 0, max, unit));
                }
            })};
    };
    reader.keys(
        table, path,
        reader.rows(
            faults, veltaraFaultKeys(), path,
            {perCommand("reply_length", kMaxReplyLength, "bytes", false, faults.replyLength),
             perCommand("status", 0xFFFFFFFF, "", true, faults.status),
             {"endless_snapshot",
              [&](const toml::node& node) {
                  faults.endlessSnapshot = reader.boolean(node, member(path, "endless_snapshot"));
              }},
             {"silent", [&](const toml::node& node) {
                  const std::string key = member(path, "silent");
                  for (const toml::node& item : reader.array(node, key)) {
                      faults.silent.insert(
                          commandKey(reader, item.source(), reader.string(item, key), key));
                  }
              }}}));
    return faults;
}

}  // namespace

VeltaraDeviceConfig parseVeltaraDevice(const Reader& reader, const toml::table& table,
                                       std::size_t position) {
    const std::string path = "veltara[" + std::to_string(position) + "]";
    VeltaraDeviceConfig device;
    device.devNo = static_cast<std::int32_t>(position);
    device.name = "usb" + std::to_string(position);

    auto tables = [&](std::string_view key, auto parse) {
        return std::pair{
            key, std::function<void(const toml::node&)>([&, key, parse](const toml::node& node) {
                const std::string arrayPath = member(path, key);
                const toml::array& items = reader.tableArray(node, arrayPath);
                for (std::size_t i = 0; i < items.size(); ++i) {
                    parse(*items.get(i)->as_table(), arrayPath + "[" + std::to_string(i) + "]");
                }
            })};
    };

    const Reader::Given given = reader.keys(
        table, path,
        reader.rows(
            device, veltaraDeviceKeys(), path,
            {{"name",
              [&](const toml::node& node) {
                  device.name = nameBytes(reader, node, member(path, "name"));
              }},
             {"driver_version",
              [&](const toml::node& node) {
                  device.driverVersion = reader.version4(node, member(path, "driver_version"));
              }},
             {"host_driver_version",
              [&](const toml::node& node) {
                  device.hostDriverVersion =
                      reader.version4(node, member(path, "host_driver_version"));
              }},
             {"kind",
              [&](const toml::node& node) {
                  const std::int64_t value = reader.integer(node, member(path, "kind"), 0, 15);
                  device.flags = 1u | static_cast<std::uint32_t>(value << 1);
              }},
             {"flags",
              [&](const toml::node& node) {
                  device.flags = static_cast<std::uint32_t>(
                      reader.integer(node, member(path, "flags"), 0, 0xFFFFFFFF));
              }},
             {"version",
              [&](const toml::node& node) {
                  const std::string key = member(path, "version");
                  const toml::array& words = reader.array(node, key);
                  if (words.size() != 2) {
                      reader.fail(node.source(), keyName(key) + " must hold two numbers, got " +
                                                     std::to_string(words.size()));
                  }
                  for (std::size_t i = 0; i < 2; ++i) {
                      device.version[i] = static_cast<std::uint32_t>(
                          reader.integer(*words.get(i), key, 0, 0xFFFFFFFF));
                  }
              }},
             {"activity_head",
              [&](const toml::node& node) {
                  const std::string& head = reader.string(node, member(path, "activity_head"));
                  if (head == "next") {
                      device.activityHead = ActivityHead::Next;
                  } else if (head == "newest") {
                      device.activityHead = ActivityHead::Newest;
                  } else {
                      reader.fail(node.source(), keyName(member(path, "activity_head")) +
                                                     " must be \"next\" or \"newest\", got \"" +
                                                     head + "\"");
                  }
              }},
             tables("work",
                    [&](const toml::table& item, const std::string& itemPath) {
                        device.work.push_back(parseWork(reader, item, itemPath));
                    }),
             tables("process",
                    [&](const toml::table& item, const std::string& itemPath) {
                        VeltaraProcessRow row;
                        reader.keys(item, itemPath,
                                    reader.rows(row, veltaraProcessKeys(), itemPath,
                                                {{"name", [&](const toml::node& node) {
                                                      row.name = processName(
                                                          reader, node, member(itemPath, "name"));
                                                  }}}));
                        device.processes.push_back(row);
                    }),
             {"faults", [&](const toml::node& node) {
                  const std::string key = member(path, "faults");
                  device.faults = parseFaults(reader, reader.table(node, key), key);
              }}}));

    if (given("kind") && given("flags")) {
        reader.fail(given("flags")->source(), keyName(member(path, "flags")) +
                                                  " and 'kind' both set the flags word: give one");
    }
    if (device.pagesInUse > device.memoryPages) {
        const toml::node* pagesInUse = given("pages_in_use");
        reader.fail(pagesInUse ? pagesInUse->source() : table.source(),
                    keyName(member(path, "pages_in_use")) + " (" +
                        std::to_string(device.pagesInUse) + ") exceeds memory_pages (" +
                        std::to_string(device.memoryPages) + ")");
    }
    return device;
}

VeltaraServiceConfig parseVeltaraService(const Reader& reader, const toml::table& table) {
    const std::string path = "veltara_service";
    VeltaraServiceConfig service;
    reader.keys(table, path, reader.rows(service, veltaraServiceKeys(), path, {}));
    return service;
}

}  // namespace crvmon::sim::toml_scenario
