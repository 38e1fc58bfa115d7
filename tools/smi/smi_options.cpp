#include "tools/smi/smi_options.h"

#include "tools/common/option_checks.h"

namespace crvmon::smi {

namespace {

constexpr const char* kExitCodes = R"(Exit codes:
  0  success
  1  unforeseen failure (an output file that cannot be written, ...)
  2  bad argument: an unknown option, field or id, a malformed value, a scenario that
     cannot be loaded
  3  no device: the library found none, or not the one --id names
  4  device error: a device or the library failed a read or a setting
  5  timeout: initialisation or a read took longer than --timeout

Absent values (a value the device does not have) are shown as N/A in tables and CSV and as
null in JSON; they are not errors.)";

}  // namespace

void declareOptions(CLI::App& app, SmiOptions& o) {
    app.footer(kExitCodes);
    app.add_flag("-d,--details", o.details,
                 "Every value the library has for each device, one per line");
    app.add_option("-q,--query", o.query,
                   "Comma-separated fields to print for each device (see --list-fields; "
                   "'all' for every field)")
        ->type_name("FIELDS");
    app.add_option("-f,--format", o.format,
                   "Output of --query and --list-fields: table (default), csv or json")
        ->transform(tools::oneOf({{"table", static_cast<int>(QueryFormat::Table)},
                                  {"csv", static_cast<int>(QueryFormat::Csv)},
                                  {"json", static_cast<int>(QueryFormat::Json)}}))
        ->type_name("FORMAT");
    app.add_flag("--no-header", o.noHeader, "No header line in table and CSV output");
    app.add_flag("--no-units", o.noUnits, "No units in the header or the values");
    app.add_flag("--list-fields", o.listFields,
                 "List the fields --query takes, with unit and families, and exit");
    app.add_option("-i,--id", o.ids,
                   "Only this device (repeatable): TYPE:INDEX such as 3:0 or orvek-pcie:0, its "
                   "position in the listing (0), its node (/dev/orvek0), PCI address "
                   "(0000:03:00.0) or USB slot chain (1-4-2)")
        ->type_name("DEVICE");
    app.add_flag("-p,--processes", o.processes, "Only the processes on the devices");
    app.add_option("-l,--loop", o.loopSeconds,
                   "Read again every SECONDS until Ctrl-C (or --count); in place on a terminal, "
                   "appended otherwise")
        ->type_name("SECONDS")
        ->check(tools::numberFrom(0.05, 86400.0, "seconds"));
    app.add_option("-c,--count", o.count, "With --loop or top: stop after N reads")
        ->type_name("N")
        ->check(tools::wholeNumberFrom(1, 1 << 30, "reads"));
    app.add_flag("--watch", o.top, "The full-screen live view (as 'crvmon-smi top')");
    app.add_option("--dump-scenario", o.dumpScenario,
                   "Write what the library reads from every device as a scenario file that "
                   "--scenario and crvmon-sim load back ('-' for standard output)")
        ->type_name("FILE");
    app.add_option("--set-extra-pmic", o.setExtraPmic,
                   "Select which extra power monitor of an Orvek card the extra-PMIC readings "
                   "report (ID 0-3), and read the selection back")
        ->type_name("TYPE:INDEX=ID");
    app.add_option("--timeout", o.timeoutSeconds,
                   "Give up (exit code 5) when initialisation or one read of the devices takes "
                   "longer than SECONDS; 0 waits for ever")
        ->type_name("SECONDS")
        ->check(tools::numberFrom(0.0, 86400.0, "seconds"))
        ->capture_default_str();
    app.add_flag("--timings", o.timings,
                 "Print how long initialisation and the reads took, on standard error");

    CLI::App* top = app.add_subcommand(
        "top",
        "Full-screen live view: utilisation and per-core bars, temperature and power "
        "history, processes; q quits");
    top->fallthrough();
    top->callback([&o] { o.top = true; });
}

}  // namespace crvmon::smi
