/* bare_file_dialog.c: the least a GTK 3 program does to show an open-file
 * dialog (a GtkFileChooserNative with a title and one filter, in the current
 * folder); the player benchmark times it to its dialog beside the player. */
#include <gtk/gtk.h>

static void OnResponse(GtkNativeDialog* dialog, gint response, gpointer loop) {
    (void)dialog;
    (void)response;
    g_main_loop_quit(loop);
}

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    GtkFileChooserNative* native =
        gtk_file_chooser_native_new("開け", NULL, GTK_FILE_CHOOSER_ACTION_OPEN, NULL, NULL);
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, "音楽ファイル(*.*)");
    gtk_file_filter_add_pattern(filter, "*");
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(native), filter);
    char* here = g_get_current_dir();
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(native), here);
    g_free(here);
    GMainLoop* loop = g_main_loop_new(NULL, FALSE);
    g_signal_connect(native, "response", G_CALLBACK(OnResponse), loop);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(native));
    g_main_loop_run(loop);
    return 0;
}
