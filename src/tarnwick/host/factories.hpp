#pragma once
// The factory database (tarnwick.core.database), the call graph's static records
// (tarnwick.core.callgraph) and the factory record (tarnwick.models.FactoryRecord).
//
// Every operation is looked up on its service module at each call and its errors propagate
// unchanged. Names and records are Python objects, passed through as they are.
#include <nanobind/nanobind.h>

namespace tarnwick::host {

namespace nb = nanobind;

// The status values of a factory record.
namespace status {
inline constexpr const char* BUSY = "BUSY";
inline constexpr const char* SUCCESS = "SUCCESS";
inline constexpr const char* ERROR = "ERROR";
}  // namespace status

namespace database {
// set_factories_status_by_names(*names, status=status): `names` is any iterable of names.
void set_status(nb::handle names, const char* status);
// get_factories_by_name(name): a map from factory name to record.
nb::object factories_by_name(nb::handle name);
// The entry for `name` in factories_by_name(name), or None.
nb::object factory_record(nb::handle name);
// add_factories(*records): `records` is any iterable of records.
void add_factories(nb::handle records);
// sync_from_kcl()
void sync_from_kcl();
}  // namespace database

namespace callgraph {
// get_static_records(): a map from factory name to record of the statically known factories.
nb::object static_records();
}  // namespace callgraph

namespace factory_record {
// record.absolute_source(): a path (text or os.PathLike), or None when the record has no source.
// TypeError naming the operation when it gives anything else.
nb::object absolute_source(nb::handle record);
// record.model_copy() with `name`, status "ERROR" and `message` assigned; `record` is unchanged.
nb::object error_copy(nb::handle record, nb::handle name, nb::handle message);
}  // namespace factory_record

}  // namespace tarnwick::host
