// placeholder until the picture code lands
