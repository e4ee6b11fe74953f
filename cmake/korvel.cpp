// Anchors the static library so that it always has at least one object.
