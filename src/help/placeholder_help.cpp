// placeholder until the subsystem's units exist
