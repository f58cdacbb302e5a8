#include "tarnwick/host/service_bindings.hpp"

namespace tarnwick::host::bindings {

Binding pdk{"tarnwick.core.pdk"};
Binding communication{"tarnwick.core.communication"};
Binding models{"tarnwick.models"};
Binding database{"tarnwick.core.database"};
Binding callgraph{"tarnwick.core.callgraph"};
Binding schema{"tarnwick.core.schema"};
Binding settings{"tarnwick.settings"};
Binding logger{"tarnwick.logger"};
Binding shared{"tarnwick.core.shared"};
Binding interrupts{"tarnwick.interrupts"};
Binding files{"tarnwick.files"};

Binding brenvik{"brenvik"};
Binding tesselink{"tesselink"};
Binding tesselink_kcell{"tesselink.kcell"};
Binding ostrand{"ostrand"};
Binding klayout_db{"klayout.db"};
Binding yaml{"yaml"};
Binding natsort{"natsort"};
Binding orjson{"orjson"};

Binding inspect{"inspect"};
Binding traceback{"traceback"};
Binding tempfile{"tempfile"};
Binding pathlib{"pathlib"};
Binding os{"os"};

void bind_all() {
  for (Binding* binding :
       {&pdk,       &communication, &models,  &database, &callgraph,  &schema,
        &settings,  &logger,        &shared,  &brenvik,  &tesselink,  &tesselink_kcell,
        &ostrand,   &klayout_db,    &yaml,    &natsort,  &orjson,     &inspect,
        &traceback, &tempfile,      &pathlib, &os,       &interrupts, &files}) {
    binding->bind();
  }
}

}  // namespace tarnwick::host::bindings
