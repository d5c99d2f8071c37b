"""The installer builder (tools/build-installer): options and checks in builder.options, the
build itself in builder.build."""
