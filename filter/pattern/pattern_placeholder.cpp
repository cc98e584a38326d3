// placeholder until the pattern engine lands
