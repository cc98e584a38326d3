// placeholder: the exported entry points land with the filter instance
