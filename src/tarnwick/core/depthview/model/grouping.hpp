#pragma once
// How the scene is grouped: by cell hierarchy or by layer. Numbered from 1.
namespace tarnwick::depthview::model {

enum class Grouping : int { CELL = 1, LAYER = 2 };

}  // namespace tarnwick::depthview::model
