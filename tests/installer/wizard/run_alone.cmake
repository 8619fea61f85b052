# Wizard tests that other tests running at the same time disturb, run with nothing beside them:
# the shell's folder dialog loses its start folder while other processes make and remove
# folders, and the side picture is read back from the screen, where other windows may cover it.
set_tests_properties(dlg_options_test.browse_takes_the_picked_folder main_window.the_side_picture_shows_at_every_size
    PROPERTIES RUN_SERIAL TRUE)
