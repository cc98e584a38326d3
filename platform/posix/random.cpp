// placeholder: implemented with the platform layer
