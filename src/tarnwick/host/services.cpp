#include "tarnwick/host/services.hpp"

namespace tarnwick::host {

Binding numpy{"numpy"};
Binding fnmatch_fnmatchcase{"fnmatch", "fnmatchcase"};
Binding dataclasses{"dataclasses"};

void bind_services() {
  bindings::bind_all();
  for (Binding* binding : {&numpy, &fnmatch_fnmatchcase, &dataclasses}) binding->bind();
}

}  // namespace tarnwick::host
