// libjux170.so is the whole of zimo_jux; this unit only gives the shared
// library a source of its own. The library keeps its state (card table,
// slots, helper-driver session) in static storage that lives while it is
// loaded.
