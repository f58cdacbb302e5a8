#pragma once
// The one place where the scene's failures become Python exceptions of their exact kinds.
namespace tarnwick::depthview::python {

// Registers the translation of the native scene's exceptions (simplification, reading, layer
// look-ups, limits) into Python exceptions. Called once, when the module is loaded.
void register_error_translation();

}  // namespace tarnwick::depthview::python
