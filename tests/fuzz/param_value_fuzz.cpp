// The values of `--set "Name=value"` on arbitrary text: parseSetOption splits and reads the value,
// the lookup resolves the name in a small table shaped like the effect's (a group and a slider of
// the same name, a nameless checkbox known by its label, popups, a colour, a 3-D point, an angle),
// and the value is converted for the named parameter and, so that every converter sees every
// input, for each parameter type in the table.
#include <cstddef>
#include <cstdint>
#include <string>

#include "minihost/host_error.h"
#include "minihost/param_lookup.h"
#include "param_table_builder.h"
#include "tools/errors.h"
#include "tools/param_apply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const cindel::test::SmallParamTable table;
    static const minihost::ParamLookup lookup(table.definitions);
    const std::string option(reinterpret_cast<const char*>(data), size);
    cli::ParamSetting setting;
    try {
        setting = cli::parseSetOption(option);
    } catch (const cli::UsageError&) {
        return 0;
    }
    try {
        const minihost::ParamDefinition& named = lookup.find(setting.reference);
        minihost::paramValueFromInput(named, setting.constant);
    } catch (const minihost::HostError&) {
    }
    for (const minihost::ParamDefinition& definition : table.definitions) {
        if (!minihost::isValueType(definition.def.param_type)) continue;
        try {
            minihost::paramValueFromInput(definition, setting.constant);
        } catch (const minihost::HostError&) {
        }
    }
    return 0;
}
