int standin_version_marker;
