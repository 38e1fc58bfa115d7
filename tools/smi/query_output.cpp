#include "tools/smi/query_output.h"

#include "tools/common/device_json.h"
#include "tools/smi/text_table.h"

namespace crvmon::smi {

namespace {

std::string headerOf(const tools::Field& field, bool units) {
    std::string text = field.name;
    if (units && *field.unit != '\0') text += std::string(" [") + field.unit + "]";
    return text;
}

std::string csvLine(const std::vector<std::string>& cells) {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i > 0) line += ',';
        line += csvCell(cells[i]);
    }
    return line + '\n';
}

}  // namespace

std::string csvCell(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string queryText(const std::vector<tools::DeviceSample>& devices,
                      const std::vector<const tools::Field*>& fields, const QueryStyle& style,
                      bool withHeader) {
    switch (style.format) {
        case QueryFormat::Json: {
            nlohmann::ordered_json list = nlohmann::ordered_json::array();
            for (const tools::DeviceSample& s : devices) list.push_back(deviceJson(s, fields));
            return list.dump(style.compactJson ? -1 : 2) + '\n';
        }
        case QueryFormat::Csv: {
            std::string out;
            if (withHeader && style.header) {
                std::vector<std::string> headers;
                headers.reserve(fields.size());
                for (const tools::Field* f : fields) headers.push_back(headerOf(*f, style.units));
                out += csvLine(headers);
            }
            for (const tools::DeviceSample& s : devices) {
                std::vector<std::string> cells;
                cells.reserve(fields.size());
                for (const tools::Field* f : fields) {
                    cells.push_back(tools::fieldText(*f, f->extract(s), style.units));
                }
                out += csvLine(cells);
            }
            return out;
        }
        case QueryFormat::Table: break;
    }
    std::vector<Column> columns;
    for (const tools::Field* f : fields) {
        const bool numeric = f->kind == tools::FieldKind::Integer ||
                             f->kind == tools::FieldKind::Real || f->kind == tools::FieldKind::Hex;
        columns.push_back(
            {headerOf(*f, style.units), numeric, std::string_view(f->name) == "node"});
    }
    TextTable table(std::move(columns));
    for (const tools::DeviceSample& s : devices) {
        std::vector<std::string> cells;
        cells.reserve(fields.size());
        for (const tools::Field* f : fields) {
            // The header carries the unit; the aligned numbers read better without it.
            cells.push_back(tools::fieldText(*f, f->extract(s), false));
        }
        table.addRow(std::move(cells));
    }
    return table.render(style.maxWidth, withHeader && style.header, style.tableWidths);
}

// One rule per field in every format: a hex field is "0x..." in tables, CSV and --details, and
// the same number in JSON, where numbers stay numbers.
std::string fieldListText(QueryFormat format) {
    const auto hex = [](const tools::Field& f) { return f.kind == tools::FieldKind::Hex; };
    if (format == QueryFormat::Json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const tools::Field& f : tools::fieldCatalogue()) {
            list.push_back({{"name", f.name},
                            {"unit", *f.unit ? nlohmann::ordered_json(f.unit) : nullptr},
                            {"families", tools::familiesText(f.families)},
                            {"hex", hex(f)},
                            {"description", f.description}});
        }
        return list.dump(2) + '\n';
    }
    if (format == QueryFormat::Csv) {
        std::string out = "name,unit,families,hex,description\n";
        for (const tools::Field& f : tools::fieldCatalogue()) {
            out += csvLine({f.name, f.unit, tools::familiesText(f.families), hex(f) ? "yes" : "no",
                            f.description});
        }
        return out;
    }
    TextTable table({{"Field"}, {"Unit"}, {"Families"}, {"Hex"}, {"Description"}});
    for (const tools::Field& f : tools::fieldCatalogue()) {
        table.addRow(
            {f.name, f.unit, tools::familiesText(f.families), hex(f) ? "yes" : "", f.description});
    }
    return table.render(0) +
           "\nHex fields print as 0x... in tables, CSV and --details, and as the same number in "
           "JSON.\n";
}

}  // namespace crvmon::smi
