# Placeholder; the typed signatures land with the module functions.
