# Properties of discovered installer tests, read after the discovered tests so that it can name
# them.

# Wizard tests that other tests running at the same time disturb, run with nothing beside them:
# the shell's folder dialog loses its start folder while other processes make and remove
# folders, and the side picture is read back from the screen, where other windows may cover it.
set_tests_properties(dlg_options_test.browse_takes_the_picked_folder main_window.the_side_picture_shows_at_every_size
    PROPERTIES RUN_SERIAL TRUE)

# The start-up language of a user who does not speak English: Wine takes the user's language
# from the locale of the process that starts it.
set_tests_properties(startup_checks_for_a_german_user.a_stored_language_beyond_the_table_keeps_the_users_own
    PROPERTIES ENVIRONMENT "LC_ALL=de_DE.UTF-8")

# A restart (wineboot -r) acts on the whole prefix: it deletes whatever any test has handed to it,
# and the list of what it deletes is rewritten whole by each program that adds to it or takes
# from it.
set_tests_properties(journal.what_other_programs_keep_goes_at_the_next_restart PROPERTIES RUN_SERIAL TRUE)
