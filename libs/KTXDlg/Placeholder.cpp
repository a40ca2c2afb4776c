// Placeholder so the target has a source until its real sources land; delete it then.
