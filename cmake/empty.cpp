// Placeholder for a module that has no source file yet.
